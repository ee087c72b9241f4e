#include "window_colour.h"

#include <QPalette>
#include <stdexcept>
#include <string>

namespace runlight::ui {

namespace {
constexpr std::uint32_t kSystemColourBit = 0x80000000U;

QPalette::ColorRole systemColourRole(std::uint32_t index) {
    switch (index) {
        case 4:   // menu
        case 15:  // button face
            return QPalette::Button;
        case 5:  // window background
            return QPalette::Base;
        case 7:  // menu text
        case 8:  // window text
            return QPalette::WindowText;
        case 13:  // highlight
            return QPalette::Highlight;
        case 14:  // highlighted text
            return QPalette::HighlightedText;
        case 16:  // button shadow
            return QPalette::Dark;
        case 18:  // button text
            return QPalette::ButtonText;
        case 20:  // button highlight
            return QPalette::Light;
        default:
            throw std::invalid_argument("unknown system colour index " + std::to_string(index));
    }
}
}  // namespace

QColor windowColour(std::uint32_t encoded, const QPalette& palette) {
    if ((encoded & kSystemColourBit) != 0) {
        return palette.color(QPalette::Active, systemColourRole(encoded & 0xFFU));
    }
    if (encoded > 0xFFFFFFU) {
        throw std::invalid_argument("not a colour: " + std::to_string(encoded));
    }
    return QColor(static_cast<int>(encoded & 0xFFU), static_cast<int>((encoded >> 8) & 0xFFU),
                  static_cast<int>((encoded >> 16) & 0xFFU));
}

}  // namespace runlight::ui
