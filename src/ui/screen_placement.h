#pragma once

// Opens top-level windows whole on their screen (see placement.h for the
// arithmetic). Used by the main window, the About dialog and the lamp monitor.

#include <QRect>
#include <functional>

#include "placement.h"

class QWidget;

namespace runlight::ui {

// On a Wayland desktop that also runs XWayland (WAYLAND_DISPLAY and DISPLAY
// both set), has Qt open the windows through XWayland: a Wayland compositor
// places windows where it likes, while an X11 window manager lets a window
// ask for its place. Falls back to Wayland itself where XWayland cannot be
// reached. A window system the user chose (QT_QPA_PLATFORM) is kept. Call
// before the QApplication is made; the choice is inherited by child processes.
void preferX11OnWayland();

// Given the window frame's margins and the screen's available area, where
// the framed window goes (the frame's rectangle, logical pixels).
using PlacementRule =
    std::function<placement::Rect(const placement::Margins& frame, const placement::Rect& area)>;

// Moves and sizes the top-level `window`, before it is shown, to where `rule`
// puts it on the window's screen, and once more when the window manager has
// framed it (the first geometry event after the show that shows a frame),
// now with the real frame. Before that the frame is estimated: as the last
// framed window of this program had it; else none on an X server where no
// window manager runs (the window opens exactly where the rule puts it);
// else a usual title bar and border. Call it before every show().
void placeOnScreen(QWidget& window, PlacementRule rule);

// `window` with its area inside the frame (below the title bar, menu bar
// included) at `designed` (screen coordinates) where the framed window fits
// the screen's available area, else moved the least distance that puts it
// inside (placement::fitInside).
void placeWhole(QWidget& window, const QRect& designed);

// The lamp monitor beside where the running light's main window opens on
// this screen (placement::kRunningLightClient, fitted as placeWhole fits it):
// covering none of it when the screen has room, made smaller down to its
// minimum size if need be, else covering as little as it can at its size.
void placeBesideRunningLight(QWidget& window);

}  // namespace runlight::ui
