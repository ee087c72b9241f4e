#include "pattern_readout.h"

#include <array>
#include <string_view>

#include "window_ops.h"

namespace runlight {

namespace {

struct DigitMarks {
    std::string_view digit;
    std::string_view marks;
};

// In the order the digits are compared.
constexpr std::array<DigitMarks, 16> kDigitTable{{
    {"0", "0000"},
    {"1", "000x"},
    {"2", "00x0"},
    {"3", "00xx"},
    {"4", "0x00"},
    {"5", "0x0x"},
    {"6", "0xx0"},
    {"7", "0xxx"},
    {"8", "x000"},
    {"9", "x00x"},
    {"A", "x0x0"},
    {"B", "x0xx"},
    {"C", "xx00"},
    {"D", "xx0x"},
    {"E", "xxx0"},
    {"F", "xxxx"},
}};

// Upper-case hexadecimal text without leading zeros: "0", "5", "A5", "FF".
std::string hexText(std::uint8_t value) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    unsigned bits = value;
    std::string text;
    do {
        text.insert(text.begin(), kDigits[bits & 0xFU]);
        bits >>= 4U;
    } while (bits != 0);
    return text;
}

}  // namespace

void PatternReadout::ShowPattern(std::uint8_t OutValue) {
    std::string HexText = hexText(OutValue);
    PadHex(HexText);
    m_window.replaceReadout(HexToMarks(HexText));
}

void PatternReadout::PadHex(std::string& text) {
    if (text.size() == 1) {
        text.insert(text.begin(), '0');
    }
}

std::string PatternReadout::HexToMarks(std::string_view text) {
    std::string PatternText(NibbleToMarks(text.substr(0, 1)));
    PatternText += NibbleToMarks(text.size() > 1 ? text.substr(1, 1) : std::string_view{});
    return PatternText;
}

std::string_view PatternReadout::NibbleToMarks(std::string_view digit) {
    for (const auto& row : kDigitTable) {
        if (digit == row.digit) {
            return row.marks;
        }
    }
    return {};
}

}  // namespace runlight
