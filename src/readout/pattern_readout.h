#pragma once

#include <string>

namespace runlight {

class Module1;
class WindowOps;

// Shows the byte just written as eight marks, "x" for a channel that is on and
// "0" for one that is off, bit 7 (first channel box) first. The byte goes
// through two hexadecimal digits, each turned into four marks by a table.
class PatternReadout {
public:
    PatternReadout(WindowOps& window, const Module1& module) : m_window(window), m_module(module) {}

    // Builds PatternText from OutValue and makes it the readout's only line.
    // Called by the tick right after each port write.
    void ShowPattern();

    // Pads a one-digit text with a leading "0"; longer texts stay as they are.
    void PadHex(std::string& text);
    // Two hexadecimal digits -> eight marks in PatternText, high digit first.
    void HexToMarks(std::string& text);
    // One upper-case hexadecimal digit -> four marks in NibbleText; the text
    // passed in is not changed. A character that is no such digit leaves
    // NibbleText as it was.
    void NibbleToMarks(std::string& digit);

    const std::string& nibbleText() const { return NibbleText; }

private:
    WindowOps& m_window;
    const Module1& m_module;

    std::string HexText;      // OutValue in hexadecimal, padded to two digits
    std::string DigitText;    // the digit being converted
    std::string NibbleText;   // four marks of the last converted digit
    std::string PatternText;  // eight marks shown in the readout
    int HexLen = 0;           // length of HexText before padding
};

}  // namespace runlight
