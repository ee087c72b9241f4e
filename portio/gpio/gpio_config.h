#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runlight::portio {

// The port's byte goes out on eight lines: lamp 1 (bit 7, D7) on the first.
constexpr std::size_t kGpioLineCount = 8;

// One of the eight lines as the settings give it: an offset on the chip
// ("17") or the name the chip gives the line ("GPIO17").
struct GpioLineRef {
    std::string text;
    std::optional<unsigned> offset;  // set when `text` is a number
};

using GpioLineRefs = std::array<GpioLineRef, kGpioLineCount>;
using GpioOffsets = std::array<unsigned, kGpioLineCount>;

// What the settings say about a port on GPIO lines. No libgpiod here: the
// settings are read and checked in the core library; the lines themselves
// are driven by the gpio module.
struct GpioConfig {
    std::string chip;    // "gpiochip0", "/dev/gpiochip0", "0" or a label ("pinctrl-bcm2711")
    GpioLineRefs lines;  // lamp order: lamp 1 (D7) first
    bool activeLow = false;
};

// Reads the eight lines of `text` ("17 27 22 5 6 13 19 26"; blanks or commas
// between them) into `lines`. Fails, saying why in `error`, unless there are
// exactly eight, each an offset (0..65535) or a name, none given twice.
bool parseGpioLines(std::string_view text, GpioLineRefs& lines, std::string& error);

// "yes"/"no" (also true/false, on/off, 1/0; any case) into `value`.
bool parseYesNo(std::string_view text, bool& value, std::string& error);

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
// Returns the index, or nothing with `error` saying so and listing the chips
// there are (and the ones that could not be opened, whose labels are unknown).
std::optional<std::size_t> findGpioChip(std::string_view wanted,
                                        const std::vector<GpioChipInfo>& chips, std::string& error);

// The offsets of `lines` on `chip`, whose lines are named `lineNames` ("" for
// an unnamed line; as many as the chip has lines). Fails, saying why, for an
// offset out of range, a name the chip does not have, or two lamps on one line.
bool resolveGpioLines(const GpioLineRefs& lines, const GpioChipInfo& chip,
                      const std::vector<std::string>& lineNames, GpioOffsets& offsets,
                      std::string& error);

// "lamp 1 (D7)": how errors name the lamp on the line at `index` (0..7).
std::string gpioLampLabel(std::size_t index);

}  // namespace runlight::portio
