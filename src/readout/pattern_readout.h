#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace runlight {

class WindowOps;

// Shows the byte just written as eight marks, "x" for a channel that is on and
// "0" for one that is off, bit 7 (first channel box) first. The byte goes
// through two hexadecimal digits, each turned into four marks by a table.
class PatternReadout {
public:
    explicit PatternReadout(WindowOps& window) : m_window(window) {}

    // Makes the marks of `OutValue` the readout's only line. Called by the
    // tick right after each port write, with the byte it wrote.
    void ShowPattern(std::uint8_t OutValue);

    // Pads a one-digit text with a leading "0"; longer texts stay as they are.
    static void PadHex(std::string& text);
    // Two hexadecimal digits -> eight marks, high digit first.
    static std::string HexToMarks(std::string_view text);
    // One upper-case hexadecimal digit -> its four marks; anything else, no
    // row of the table, gives "".
    static std::string_view NibbleToMarks(std::string_view digit);

private:
    WindowOps& m_window;
};

}  // namespace runlight
