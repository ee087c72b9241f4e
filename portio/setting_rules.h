#pragma once

// A setting's text read as the value its rule (backend_table.h) says it is.
// The settings file and the environment are checked with checkValue before
// any back end is chosen; a back end reads the value it needs with the
// matching parse function.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "backend_table.h"
#include "result.h"

namespace runlight::portio {

// Fails with what is wrong with `value` for `key`, worded to follow
// "<key> = <value> ": "is not a whole number 1..505".
Result<void> checkValue(const SettingKey& key, std::string_view value);

// The port's byte goes out on eight lines: lamp 1 (bit 7, D7) on the first.
constexpr std::size_t kLampCount = 8;

// One of the eight lines as the settings give it: an offset ("17") or a
// name the line goes by ("GPIO17").
struct LampLine {
    std::string text;
    std::optional<unsigned> offset;  // set when `text` is a number
};
using LampLines = std::array<LampLine, kLampCount>;

// The eight lines of `text` ("17 27 22 5 6 13 19 26"; blanks or commas
// between them). Fails, saying why, unless there are exactly eight, each an
// offset (0..65535) or a name, none given twice.
Result<LampLines> parseEightLines(std::string_view text);

// "yes"/"no" (also true/false, on/off, 1/0; any case); fails with
// "\"low\" is neither yes nor no".
Result<bool> parseYesNo(std::string_view text);

// Whether `text` is one or more decimal digits and nothing else.
bool allDigits(std::string_view text);

// "lamp 1 (D7)": how messages name the lamp at `index` (0..7).
std::string lampLabel(std::size_t index);

}  // namespace runlight::portio
