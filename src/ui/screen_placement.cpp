#include "screen_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
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

// Whether `frame` is one a window manager has put around the window: none
// of the margins negative (X11 reports those while the frame is being made),
// not all zero (not framed yet), none absurd.
bool isFrame(const placement::Margins& frame) {
    constexpr int kAbsurd = 200;
    const int margins[] = {frame.left, frame.top, frame.right, frame.bottom};
    bool some = false;
    for (const int margin : margins) {
        if (margin < 0 || margin > kAbsurd) {
            return false;
        }
        some = some || margin > 0;
    }
    return some;
}

// Puts the window's frame at `framed`, the window being `frame` larger than
// its area inside. By the frame's position (a top-level widget's move), which
// every X11 window manager takes the same way; a window's own position is
// taken as the frame's by some of them (static gravity ignored).
void setFramedGeometry(QWidget& window, const placement::Rect& framed,
                       const placement::Margins& frame) {
    window.resize(framed.width - frame.left - frame.right,
                  framed.height - frame.top - frame.bottom);
    window.move(framed.left, framed.top);
}

// After a placement, waits for the window manager to frame the window (the
// frame shows in the window's geometry events after it is shown), places it
// once more with the frame it really has, and remembers that frame for the
// next windows. Gives up after kPatienceMs without a frame (a window system
// that draws no frames, or one that places windows itself).
class FramedCheck final : public QObject {
public:
    static constexpr int kPatienceMs = 5000;

    FramedCheck(QWidget& window, PlacementRule rule)
        : QObject(&window), m_window(&window), m_rule(std::move(rule)) {
        window.installEventFilter(this);
        QTimer::singleShot(kPatienceMs, this, &QObject::deleteLater);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Paint:
            case QEvent::WindowActivate:
                break;
            default:
                return false;
        }
        if (watched != m_window || !m_window->isVisible()) {
            return false;
        }
        const placement::Margins frame = frameOf(*m_window);
        if (!isFrame(frame)) {
            return false;
        }
        m_window->removeEventFilter(this);
        lastFrame = frame;
        frameSeen = true;
        const placement::Rect framed = m_rule(frame, availableArea(*m_window));
        if (toRect(m_window->frameGeometry()) != framed) {
            setFramedGeometry(*m_window, framed, frame);
        }
        deleteLater();
        return false;
    }

private:
    QPointer<QWidget> m_window;
    PlacementRule m_rule;
};

}  // namespace

void placeOnScreen(QWidget& window, PlacementRule rule) {
    // Removes the check a showing before this one left, if it is still waiting.
    for (QObject* child : window.children()) {
        if (auto* earlier = dynamic_cast<FramedCheck*>(child)) {
            window.removeEventFilter(earlier);
            earlier->deleteLater();
        }
    }
    const placement::Margins frame = frameSeen ? lastFrame : kUsualFrame;
    setFramedGeometry(window, rule(frame, availableArea(window)), frame);
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
