#pragma once

// The benchmarks' command lines: a number is read in full or refused, never
// taken as 0 (atoi's answer to "abc" or "").

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace runlight::bench {

// `text` as a whole number in min..max; none for anything else (empty, a
// sign alone, junk after the digits, out of range).
inline std::optional<long> wholeNumber(const char* text, long min, long max) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

// The one optional argument of a benchmark that takes no options: a whole
// number in min..max, `fallback` when it is left out; none for anything else
// (an option, a second argument, a bad number).
inline std::optional<long> onlyArgument(int argc, char** argv, long min, long max, long fallback) {
    const option none[] = {{nullptr, 0, nullptr, 0}};
    if (getopt_long(argc, argv, "", none, nullptr) != -1 || argc - optind > 1) {
        return std::nullopt;
    }
    return optind < argc ? wholeNumber(argv[optind], min, max) : std::optional<long>(fallback);
}

}  // namespace runlight::bench
