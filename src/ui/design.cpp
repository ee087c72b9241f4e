#include "design.h"

namespace runlight::ui {

QFont designFont() {
    // The condensed face at 10 pixels is the widest that fits the narrowest
    // boxes: "1. Lépés" in 41 pixels, the readout's eight marks in 57.
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(10);
    return font;
}

}  // namespace runlight::ui
