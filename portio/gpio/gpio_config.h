#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "setting_rules.h"

namespace runlight::portio {

// The port's byte goes out on eight lines: lamp 1 (bit 7, D7) on the first.
// The core checks the `lines` setting by its rule (setting_rules.h) when it
// reads the settings; this module reads it with the same parser.
constexpr std::size_t kGpioLineCount = kLampCount;
// One of the eight lines: an offset on the chip ("17") or the name the chip
// gives the line ("GPIO17").
using GpioLineRef = LampLine;
using GpioLineRefs = LampLines;
using GpioOffsets = std::array<unsigned, kGpioLineCount>;

// What the settings say about a port on GPIO lines. No libgpiod here: the
// chip and lines are found in gpio_port.cpp.
struct GpioConfig {
    std::string chip;    // "gpiochip0", "/dev/gpiochip0", "0" or a label ("pinctrl-bcm2711")
    GpioLineRefs lines;  // lamp order: lamp 1 (D7) first
    bool activeLow = false;
};

// A chip as found on this machine.
struct GpioChipInfo {
    std::string name;   // "gpiochip0"
    std::string path;   // "/dev/gpiochip0"
    std::string label;  // "pinctrl-bcm2711"; "" when it could not be opened
    unsigned lineCount = 0;
    int openError = 0;  // errno of opening it; 0 when it opened
};

// "gpiochip0 [pinctrl-bcm2711] (58 lines)", or with why it could not be opened.
std::string describeGpioChip(const GpioChipInfo& chip);

// "the chips here are gpiochip0 [...] (54 lines), gpiochip1 [...] (8 lines)"
// or "there is no GPIO chip here (no /dev/gpiochip*)".
std::string listGpioChips(const std::vector<GpioChipInfo>& chips);

// Which of `chips` `wanted` names: by path ("/dev/gpiochip0"), by name
// ("gpiochip0", or its number "0"), else by label (the first chip with it).
// Returns the index, or fails saying so and listing the chips there are
// (and the ones that could not be opened, whose labels are unknown).
Result<std::size_t> findGpioChip(std::string_view wanted, const std::vector<GpioChipInfo>& chips);

// The offsets of `lines` on `chip`, whose lines are named `lineNames` ("" for
// an unnamed line; as many as the chip has lines). Fails, saying why, for an
// offset out of range, a name the chip does not have, or two lamps on one line.
Result<GpioOffsets> resolveGpioLines(const GpioLineRefs& lines, const GpioChipInfo& chip,
                                     const std::vector<std::string>& lineNames);

// "lamp 1 (D7)": how errors name the lamp on the line at `index` (0..7).
inline std::string gpioLampLabel(std::size_t index) {
    return lampLabel(index);
}

}  // namespace runlight::portio
