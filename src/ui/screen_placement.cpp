#include "screen_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "design.h"

#if defined(RUNLIGHT_HAVE_XCB) && QT_CONFIG(xcb)
#define RUNLIGHT_ASKS_X11 1
#include <xcb/xcb.h>
#endif

namespace runlight::ui {

namespace {

// A usual frame before any window of the program has been framed, where a
// window manager frames windows: a title bar and thin borders (logical
// pixels). Too large costs a few pixels of extra move near a screen edge; too
// small is put right after the framing.
constexpr placement::Margins kUsualFrame{4, 30, 4, 4};
// No frame at all: an X server without a window manager (a kiosk, xinit)
// shows each window exactly where it asked to be.
constexpr placement::Margins kNoFrame{0, 0, 0, 0};
constexpr int kBesideGap = 8;  // pixels between the running light and the monitor

placement::Margins lastFrame = kUsualFrame;  // meaningful once frameSeen
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

#ifdef RUNLIGHT_ASKS_X11
// The window a property of `window` names (a property of type WINDOW), or 0.
xcb_window_t windowProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name) {
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, name, XCB_ATOM_WINDOW, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    xcb_window_t named = 0;
    if (reply != nullptr && reply->type == XCB_ATOM_WINDOW && reply->format == 32 &&
        xcb_get_property_value_length(reply) >= static_cast<int>(sizeof named)) {
        std::memcpy(&named, xcb_get_property_value(reply), sizeof named);
    }
    std::free(reply);
    return named;
}

// Whether a window manager runs on this X server: one that says so as window
// managers do (a window named by the root window's _NET_SUPPORTING_WM_CHECK
// that names itself; a window manager that has ended leaves the property
// naming a window that is gone). One that does not say so is found out when
// it frames the first window (FramedCheck).
bool x11WindowManagerRuns(xcb_connection_t* connection) {
    static constexpr char kCheck[] = "_NET_SUPPORTING_WM_CHECK";
    const xcb_intern_atom_cookie_t atomCookie =
        xcb_intern_atom(connection, 1, sizeof kCheck - 1, kCheck);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (atom == nullptr) {
        return true;  // the X server did not answer: as if there were one
    }
    const xcb_atom_t check = atom->atom;
    std::free(atom);
    if (check == XCB_ATOM_NONE) {
        return false;  // no client has ever named the property
    }
    const xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    if (roots.rem == 0) {
        return true;
    }
    const xcb_window_t wm = windowProperty(connection, roots.data->root, check);
    return wm != 0 && windowProperty(connection, wm, check) == wm;
}
#endif

// The frame to expect around a window of this program before a window
// manager has framed one: none on an X server without a window manager, else
// a usual one. (Other window systems place or frame windows themselves.)
placement::Margins expectedFrame() {
#ifdef RUNLIGHT_ASKS_X11
    if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        x11 != nullptr && x11->connection() != nullptr &&
        !x11WindowManagerRuns(x11->connection())) {
        return kNoFrame;
    }
#endif
    return kUsualFrame;
}

// The height of the running light's menu bar, above its designed client
// area, measured as its main window measures it: a bar in the design font
// with its one menu, in this program's style.
int runningLightMenuBar() {
    QMenuBar bar;
    bar.setFont(designFont());
    bar.addMenu(QStringLiteral("Névjegy"));
    return bar.sizeHint().height();
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

void preferX11OnWayland() {
    const auto set = [](const char* name) { return !qEnvironmentVariableIsEmpty(name); };
    if (!set("QT_QPA_PLATFORM") && set("WAYLAND_DISPLAY") && set("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
    }
}

void placeOnScreen(QWidget& window, PlacementRule rule) {
    // Removes the check a showing before this one left, if it is still waiting.
    for (QObject* child : window.children()) {
        if (auto* earlier = dynamic_cast<FramedCheck*>(child)) {
            window.removeEventFilter(earlier);
            earlier->deleteLater();
        }
    }
    const placement::Margins frame = frameSeen ? lastFrame : expectedFrame();
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
    const int menuBar = runningLightMenuBar();
    placeOnScreen(window, [preferred, minimum, menuBar](const placement::Margins& frame,
                                                        const placement::Rect& area) {
        placement::Rect runningLight = placement::kRunningLightClient;
        runningLight.top -= menuBar;
        runningLight.height += menuBar;
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
