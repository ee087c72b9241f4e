#pragma once

// Where a window opens on a screen: plain rectangle arithmetic, no toolkit.
// Everything is in the screen's logical pixels (device-independent, as the
// window system reports positions under a scale factor), x to the right and
// y downwards; a rectangle covers [left, left + width) x [top, top + height).

namespace runlight::placement {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    constexpr int right() const { return left + width; }  // one past the last column
    constexpr int bottom() const { return top + height; }
    constexpr bool contains(const Rect& inner) const {
        return inner.left >= left && inner.top >= top && inner.right() <= right() &&
               inner.bottom() <= bottom();
    }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    int width = 0;
    int height = 0;
};

// What a window frame adds around a client area: title bar, borders.
struct Margins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The client area `client` with `frame` around it.
constexpr Rect withFrame(const Rect& client, const Margins& frame) {
    return {client.left - frame.left, client.top - frame.top,
            client.width + frame.left + frame.right, client.height + frame.top + frame.bottom};
}

// The running light's main window as designed: the client area (below the
// menu bar) opens 458 x 438 at (270, 235) from the screen's top-left. The
// lamp monitor, a program of its own, goes beside it.
inline constexpr Rect kRunningLightClient{270, 235, 458, 438};

// Pixels of the area two windows 0..`overlap` share; 0 when they do not touch.
long long overlapArea(const Rect& a, const Rect& b);

// `window` moved the shortest distance that puts it whole inside `area`;
// unchanged when it already lies inside. Along an axis where it is larger
// than `area`, its left (top) edge goes to the area's, so that the title bar
// and the top-left of the window stay on the screen.
Rect fitInside(const Rect& window, const Rect& area);

// Where a window of `width` x `height` goes beside `other` inside `area`,
// `gap` pixels away from it: to the right with the tops level, else to the
// left, else below or above with the left edges level, at the first of these
// that covers nothing of `other` once moved whole into `area` (as
// fitInside moves it). Where none does, the place inside `area` that covers
// the least of `other`, and of those the nearest to the right-hand place.
Rect placeBeside(int width, int height, const Rect& other, const Rect& area, int gap);

// placeBeside for a window that may be made smaller, down to `minimum`: at
// its `preferred` size where that covers nothing of `other`; else as large as
// the room to the right, left, below or above `other` allows (first of those
// that has room for `minimum`), each side shrunk alone, covering nothing;
// else placeBeside at the preferred size.
Rect placeBesideShrinking(Size preferred, Size minimum, const Rect& other, const Rect& area,
                          int gap);

}  // namespace runlight::placement
