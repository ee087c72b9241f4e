#include "screen_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace runlight::ui {

namespace {

// A usual frame before any window of the program has been framed: a title
// bar and thin borders (logical pixels). Too large costs a few pixels of
// extra move near a screen edge; too small is put right after the framing.
constexpr placement::Margins kUsualFrame{4, 30, 4, 4};
// The running light's menu bar, above its designed client area: the design
// font's menu bar is 20 to 22 pixels high in the styles Qt ships.
constexpr int kRunningLightMenuBar = 22;
constexpr int kBesideGap = 8;  // pixels between the running light and the monitor

placement::Margins lastFrame = kUsualFrame;
bool frameSeen = false;

placement::Rect toRect(const QRect& rect) {
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

placement::Margins frameOf(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

placement::Rect availableArea(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? toRect(screen->availableGeometry()) : placement::Rect{};
}

// Watches the window's first exposure after a placement, when the window
// manager has framed it, and places it again with the frame it really has.
class FramedCheck final : public QObject {
public:
    FramedCheck(QWidget& window, PlacementRule rule)
        : QObject(&window), m_window(&window), m_rule(std::move(rule)) {
        QWindow* handle = window.windowHandle();
        handle->installEventFilter(this);
        // A window destroyed before it was exposed (a dialog closed at once)
        // needs no check any more.
        connect(handle, &QObject::destroyed, this, &QObject::deleteLater);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && m_window != nullptr &&
            m_window->windowHandle() == watched && m_window->windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            const placement::Margins frame = frameOf(*m_window);
            if (frame.top > 0 || frame.left > 0) {
                lastFrame = frame;
                frameSeen = true;
            }
            const placement::Rect framed = m_rule(frame, availableArea(*m_window));
            if (toRect(m_window->frameGeometry()) != framed) {
                m_window->move(framed.left, framed.top);  // a window's move places its frame
            }
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    PlacementRule m_rule;
};

}  // namespace

void placeOnScreen(QWidget& window, PlacementRule rule) {
    window.winId();  // the window, so that its exposure can be watched
    const placement::Margins frame = frameSeen ? lastFrame : kUsualFrame;
    const placement::Rect framed = rule(frame, availableArea(window));
    window.setGeometry(framed.left + frame.left, framed.top + frame.top,
                       framed.width - frame.left - frame.right,
                       framed.height - frame.top - frame.bottom);
    new FramedCheck(window, std::move(rule));
}

void placeWhole(QWidget& window, const QRect& designed) {
    const placement::Rect client = toRect(designed);
    placeOnScreen(window, [client](const placement::Margins& frame, const placement::Rect& area) {
        return placement::fitInside(placement::withFrame(client, frame), area);
    });
}

void placeBesideRunningLight(QWidget& window) {
    const placement::Size preferred{window.width(), window.height()};
    const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
    const placement::Size minimum{std::min(least.width(), preferred.width),
                                  std::min(least.height(), preferred.height)};
    placeOnScreen(
        window, [preferred, minimum](const placement::Margins& frame, const placement::Rect& area) {
            placement::Rect runningLight = placement::kRunningLightClient;
            runningLight.top -= kRunningLightMenuBar;
            runningLight.height += kRunningLightMenuBar;
            const placement::Rect other =
                placement::fitInside(placement::withFrame(runningLight, frame), area);
            const int framing = frame.left + frame.right;
            const int titling = frame.top + frame.bottom;
            return placement::placeBesideShrinking(
                {preferred.width + framing, preferred.height + titling},
                {minimum.width + framing, minimum.height + titling}, other, area, kBesideGap);
        });
}

}  // namespace runlight::ui
