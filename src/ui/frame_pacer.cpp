#include "frame_pacer.h"

#include <QTimer>

namespace runlight::ui {

FramePacer::FramePacer(std::function<void()> draw, QObject* parent)
    : QObject(parent), m_draw(std::move(draw)) {
    setObjectName(QStringLiteral("framePacer"));
    m_frameTimer = new QTimer(this);
    m_frameTimer->setObjectName(QStringLiteral("frameTimer"));
    m_frameTimer->setSingleShot(true);
    connect(m_frameTimer, &QTimer::timeout, this, &FramePacer::drawPendingFrame);
}

void FramePacer::requestFrame() {
    if (m_frameTimer->isActive()) {
        return;
    }
    const auto sinceLast = std::chrono::steady_clock::now() - m_lastPaint;
    m_frameTimer->start(sinceLast >= kFrame
                            ? std::chrono::milliseconds(0)
                            : std::chrono::ceil<std::chrono::milliseconds>(kFrame - sinceLast));
}

void FramePacer::afterStep() {
    if (m_frameTimer->isActive() &&
        std::chrono::steady_clock::now() - m_lastPaint >= kFrame - kEarlyStep) {
        drawPendingFrame();
    }
}

void FramePacer::drawPendingFrame() {
    m_frameTimer->stop();
    m_lastPaint = std::chrono::steady_clock::now();
    m_draw();
}

}  // namespace runlight::ui
