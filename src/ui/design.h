#pragma once

// Units and fonts of the window designs. Positions and sizes are given in
// twips (1440 per inch) as the designs state them; on screen they are logical
// pixels at 96 dots per inch, 15 twips a pixel.

#include <QFont>
#include <QRect>

namespace runlight::ui {

inline constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips) {
    return twips / kTwipsPerPixel;
}

// A control's rectangle from its design: Left, Top, Width, Height in twips,
// relative to its container (a window's client area or a frame).
constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// The font of both windows and all their controls: sized in pixels, so that
// every caption fits its designed box whatever the screen's dots per inch.
QFont designFont();
// The About dialog's font, a pixel smaller: its contact label must hold
// "Kapcsolat: " and the address in 121 pixels.
QFont aboutFont();

}  // namespace runlight::ui
