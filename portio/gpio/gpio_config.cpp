#include "gpio_config.h"

#include <cstring>

namespace runlight::portio {

namespace {

std::string quoted(std::string_view text) {
    // Appended rather than "\"" + std::string(text): GCC 12 at -O3 warns
    // falsely (-Wrestrict) about the insert that operator+ inlines.
    std::string result(1, '"');
    result.append(text);
    result += '"';
    return result;
}

}  // namespace

std::string describeGpioChip(const GpioChipInfo& chip) {
    if (chip.openError != 0) {
        return chip.name + " (cannot be opened: " + std::strerror(chip.openError) + ")";
    }
    return chip.name + " [" + chip.label + "] (" + std::to_string(chip.lineCount) +
           (chip.lineCount == 1 ? " line)" : " lines)");
}

std::string listGpioChips(const std::vector<GpioChipInfo>& chips) {
    if (chips.empty()) {
        return "there is no GPIO chip here (no /dev/gpiochip*)";
    }
    std::string text = chips.size() == 1 ? "the only chip here is " : "the chips here are ";
    for (std::size_t i = 0; i < chips.size(); ++i) {
        text += (i == 0 ? "" : ", ") + describeGpioChip(chips[i]);
    }
    return text;
}

Result<std::size_t> findGpioChip(std::string_view wanted, const std::vector<GpioChipInfo>& chips) {
    if (wanted.empty()) {
        return fail(
            "no chip given: name it (gpiochip0), give its path (/dev/gpiochip0) or its label "
            "(pinctrl-bcm2711); " +
            listGpioChips(chips));
    }
    const std::string name =
        allDigits(wanted) ? "gpiochip" + std::string(wanted) : std::string(wanted);
    for (std::size_t i = 0; i < chips.size(); ++i) {
        if (wanted.front() == '/' ? chips[i].path == wanted : chips[i].name == name) {
            return i;
        }
    }
    if (wanted.front() != '/' && !allDigits(wanted)) {
        for (std::size_t i = 0; i < chips.size(); ++i) {
            if (chips[i].openError == 0 && chips[i].label == wanted) {
                return i;
            }
        }
    }
    return fail("no GPIO chip " + quoted(wanted) + " (by name, path or label); " +
                listGpioChips(chips));
}

Result<GpioOffsets> resolveGpioLines(const GpioLineRefs& lines, const GpioChipInfo& chip,
                                     const std::vector<std::string>& lineNames) {
    GpioOffsets found{};
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const GpioLineRef& line = lines[i];
        if (line.offset) {
            if (*line.offset >= chip.lineCount) {
                return fail("line " + line.text + " (" + gpioLampLabel(i) +
                            ") is out of range: " + describeGpioChip(chip) + " has lines 0 to " +
                            std::to_string(chip.lineCount == 0 ? 0 : chip.lineCount - 1));
            }
            found[i] = *line.offset;
        } else {
            std::optional<unsigned> offset;
            std::string names;
            bool moreNames = false;
            for (std::size_t n = 0; n < lineNames.size(); ++n) {
                if (lineNames[n] == line.text) {
                    offset = static_cast<unsigned>(n);
                    break;
                }
                if (lineNames[n].empty()) {
                    continue;
                }
                if (names.size() < 120) {
                    names += (names.empty() ? "" : ", ") + lineNames[n];
                } else {
                    moreNames = true;
                }
            }
            if (!offset) {
                return fail("no line named " + quoted(line.text) + " (" + gpioLampLabel(i) +
                            ") on " + describeGpioChip(chip) + "; " +
                            (names.empty() ? "the chip names none of its lines, give their offsets"
                                           : "give the line's offset, or a name it has (" + names +
                                                 (moreNames ? ", ..." : "") + ")"));
            }
            found[i] = *offset;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (found[j] == found[i]) {
                return fail(lines[j].text + " and " + line.text + " are both line " +
                            std::to_string(found[i]) + " of " + chip.name + ", for " +
                            gpioLampLabel(j) + " and " + gpioLampLabel(i) +
                            ": each lamp needs a line of its own");
            }
        }
    }
    return found;
}

}  // namespace runlight::portio
