#include "design.h"

namespace runlight::ui {

namespace {
QFont condensedSans(int pixels) {
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}
}  // namespace

QFont designFont() {
    // The condensed face at 10 pixels is the widest that fits the narrowest
    // boxes: "1. Lépés" in 41 pixels, the readout's eight marks in 57.
    return condensedSans(10);
}

QFont aboutFont() {
    return condensedSans(9);
}

}  // namespace runlight::ui
