#include "setting_rules.h"

#include <charconv>
#include <vector>

namespace runlight::portio {

namespace {

// The character device numbers lines in 32 bits; no chip has more than this.
constexpr unsigned kMaxOffset = 65535;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r';
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

Result<void> checkBackend(std::string_view value) {
    if (findBackend(value) != nullptr) {
        return {};
    }
    std::string known;
    for (const BackendInfo& backend : kBackends) {
        known += (known.empty() ? "" : ", ") + std::string(backend.name);
    }
    return fail("is not one of " + known);
}

Result<void> checkWholeNumber(std::string_view value, long low, long high) {
    long number = 0;
    const auto [end, status] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || status != std::errc() || end != value.data() + value.size() ||
        number < low || number > high) {
        return fail("is not a whole number " + std::to_string(low) + ".." + std::to_string(high));
    }
    return {};
}

}  // namespace

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

Result<void> checkValue(const SettingKey& key, std::string_view value) {
    switch (key.rule) {
        case Rule::BackendName:
            return checkBackend(value);
        case Rule::Text:
            return value.empty() ? fail("is empty") : Result<void>{};
        case Rule::WholeNumber:
            return checkWholeNumber(value, key.low, key.high);
        case Rule::YesNo:
            return parseYesNo(value) ? Result<void>{} : fail("is neither yes nor no");
        case Rule::EightLines: {
            const auto lines = parseEightLines(value);
            return lines ? Result<void>{} : fail("is not eight lines of a chip: " + lines.error());
        }
    }
    return fail("has no rule");
}

std::string lampLabel(std::size_t index) {
    return "lamp " + std::to_string(index + 1) + " (D" + std::to_string(7 - index) + ")";
}

Result<LampLines> parseEightLines(std::string_view text) {
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
    if (words.size() != kLampCount) {
        return fail(std::to_string(words.size()) + (words.size() == 1 ? " line" : " lines") +
                    " given, exactly eight are needed, lamp 1 (D7) first, e.g. "
                    "\"17 27 22 5 6 13 19 26\"");
    }
    LampLines parsed;
    for (std::size_t i = 0; i < kLampCount; ++i) {
        const std::string_view word = words[i];
        parsed[i].text = std::string(word);
        if (allDigits(word)) {
            if (word.size() > 5 || std::stoul(std::string(word)) > kMaxOffset) {
                return fail("line " + parsed[i].text + " (" + lampLabel(i) +
                            ") is not a line offset (0 to 65535)");
            }
            parsed[i].offset = static_cast<unsigned>(std::stoul(std::string(word)));
        } else if (word.front() == '-' || word.front() == '+') {
            return fail("line " + parsed[i].text + " (" + lampLabel(i) +
                        ") is not a line offset (0 to 65535) or a line's name");
        }
        for (std::size_t j = 0; j < i; ++j) {
            const bool same = parsed[i].offset && parsed[j].offset
                                  ? *parsed[i].offset == *parsed[j].offset
                                  : parsed[i].text == parsed[j].text;
            if (same) {
                return fail("line " + parsed[i].text + " is given twice, for " + lampLabel(j) +
                            " and " + lampLabel(i) + ": each lamp needs a line of its own");
            }
        }
    }
    return parsed;
}

Result<bool> parseYesNo(std::string_view text) {
    const std::string word = lowered(text);
    if (word == "yes" || word == "true" || word == "on" || word == "1") {
        return true;
    }
    if (word == "no" || word == "false" || word == "off" || word == "0") {
        return false;
    }
    // Appended rather than "\"" + std::string(text): GCC 12 at -O3 warns
    // falsely (-Wrestrict) about the insert that operator+ inlines.
    std::string quoted(1, '"');
    quoted.append(text);
    quoted += '"';
    return fail(quoted + " is neither yes nor no");
}

}  // namespace runlight::portio
