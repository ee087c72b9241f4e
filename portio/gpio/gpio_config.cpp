#include "gpio_config.h"

#include <cstring>

namespace runlight::portio {

namespace {

constexpr unsigned kMaxOffset =
    65535;  // the character device numbers lines in 32 bits; no chip has more

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r';
}

bool allDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

std::string quoted(std::string_view text) {
    // Appended rather than "\"" + std::string(text): GCC 12 at -O3 warns
    // falsely (-Wrestrict) about the insert that operator+ inlines.
    std::string result(1, '"');
    result.append(text);
    result += '"';
    return result;
}

}  // namespace

std::string gpioLampLabel(std::size_t index) {
    return "lamp " + std::to_string(index + 1) + " (D" + std::to_string(7 - index) + ")";
}

bool parseGpioLines(std::string_view text, GpioLineRefs& lines, std::string& error) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isBlank(text[at])) {
            ++at;
        }
        std::size_t end = at;
        while (end < text.size() && !isBlank(text[end])) {
            ++end;
        }
        if (end > at) {
            words.push_back(text.substr(at, end - at));
        }
        at = end;
    }
    if (words.size() != kGpioLineCount) {
        error = std::to_string(words.size()) + (words.size() == 1 ? " line" : " lines") +
                " given, exactly eight are needed, lamp 1 (D7) first, e.g. "
                "\"17 27 22 5 6 13 19 26\"";
        return false;
    }
    GpioLineRefs parsed;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const std::string_view word = words[i];
        parsed[i].text = std::string(word);
        if (allDigits(word)) {
            if (word.size() > 5 || std::stoul(std::string(word)) > kMaxOffset) {
                error = "line " + parsed[i].text + " (" + gpioLampLabel(i) +
                        ") is not a line offset (0 to 65535)";
                return false;
            }
            parsed[i].offset = static_cast<unsigned>(std::stoul(std::string(word)));
        } else if (word.front() == '-' || word.front() == '+') {
            error = "line " + parsed[i].text + " (" + gpioLampLabel(i) +
                    ") is not a line offset (0 to 65535) or a line's name";
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            const bool same = parsed[i].offset && parsed[j].offset
                                  ? *parsed[i].offset == *parsed[j].offset
                                  : parsed[i].text == parsed[j].text;
            if (same) {
                error = "line " + parsed[i].text + " is given twice, for " + gpioLampLabel(j) +
                        " and " + gpioLampLabel(i) + ": each lamp needs a line of its own";
                return false;
            }
        }
    }
    lines = parsed;
    return true;
}

bool parseYesNo(std::string_view text, bool& value, std::string& error) {
    const std::string word = lowered(text);
    if (word == "yes" || word == "true" || word == "on" || word == "1") {
        value = true;
        return true;
    }
    if (word == "no" || word == "false" || word == "off" || word == "0") {
        value = false;
        return true;
    }
    error = quoted(text) + " is neither yes nor no";
    return false;
}

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

std::optional<std::size_t> findGpioChip(std::string_view wanted,
                                        const std::vector<GpioChipInfo>& chips,
                                        std::string& error) {
    if (wanted.empty()) {
        error =
            "no chip given: name it (gpiochip0), give its path (/dev/gpiochip0) or its label "
            "(pinctrl-bcm2711); " +
            listGpioChips(chips);
        return std::nullopt;
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
    error = "no GPIO chip " + quoted(wanted) + " (by name, path or label); " + listGpioChips(chips);
    return std::nullopt;
}

bool resolveGpioLines(const GpioLineRefs& lines, const GpioChipInfo& chip,
                      const std::vector<std::string>& lineNames, GpioOffsets& offsets,
                      std::string& error) {
    GpioOffsets found{};
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const GpioLineRef& line = lines[i];
        if (line.offset) {
            if (*line.offset >= chip.lineCount) {
                error = "line " + line.text + " (" + gpioLampLabel(i) +
                        ") is out of range: " + describeGpioChip(chip) + " has lines 0 to " +
                        std::to_string(chip.lineCount == 0 ? 0 : chip.lineCount - 1);
                return false;
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
                error = "no line named " + quoted(line.text) + " (" + gpioLampLabel(i) + ") on " +
                        describeGpioChip(chip) + "; " +
                        (names.empty() ? "the chip names none of its lines, give their offsets"
                                       : "give the line's offset, or a name it has (" + names +
                                             (moreNames ? ", ..." : "") + ")");
                return false;
            }
            found[i] = *offset;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (found[j] == found[i]) {
                error = lines[j].text + " and " + line.text + " are both line " +
                        std::to_string(found[i]) + " of " + chip.name + ", for " +
                        gpioLampLabel(j) + " and " + gpioLampLabel(i) +
                        ": each lamp needs a line of its own";
                return false;
            }
        }
    }
    offsets = found;
    return true;
}

}  // namespace runlight::portio
