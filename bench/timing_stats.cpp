#include "timing_stats.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string_view>

namespace runlight::bench {

namespace {

// Reads one decimal whole number at the front of `text`, after blanks;
// advances `text` past it. False if there is none.
template <typename T>
bool takeNumber(std::string_view& text, T& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r") == std::string_view::npos;
}

}  // namespace

std::vector<TraceWrite> parseTrace(std::istream& in) {
    std::vector<TraceWrite> writes;
    std::string line;
    std::size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string_view rest = line;
        if (isBlank(rest)) {
            continue;
        }
        TraceWrite write;
        if (!takeNumber(rest, write.ns) || !takeNumber(rest, write.port) ||
            !takeNumber(rest, write.value) || !isBlank(rest)) {
            throw std::runtime_error("trace line " + std::to_string(lineNo) +
                                     " is not \"T PORT BYTE\": " + line);
        }
        writes.push_back(write);
    }
    return writes;
}

std::vector<std::vector<TraceWrite>> splitRuns(const std::vector<TraceWrite>& writes) {
    std::vector<std::vector<TraceWrite>> runs;
    for (const auto& write : writes) {
        if (write.value == 0) {
            runs.emplace_back();
        } else if (!runs.empty()) {
            runs.back().push_back(write);
        }
    }
    return runs;
}

std::size_t countCycleBreaks(const std::vector<TraceWrite>& run, const std::vector<int>& cycle) {
    std::size_t breaks = 0;
    for (std::size_t i = 1; i < run.size(); ++i) {
        const auto previous = std::find(cycle.begin(), cycle.end(), run[i - 1].value);
        if (previous == cycle.end()) {
            ++breaks;  // a byte no step holds
            continue;
        }
        const auto next = std::next(previous) == cycle.end() ? cycle.begin() : std::next(previous);
        if (run[i].value != *next) {
            ++breaks;
        }
    }
    return breaks;
}

std::vector<double> intervalsMs(const std::vector<TraceWrite>& run) {
    std::vector<double> intervals;
    for (std::size_t i = 1; i < run.size(); ++i) {
        intervals.push_back(static_cast<double>(run[i].ns - run[i - 1].ns) / 1e6);
    }
    return intervals;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        throw std::invalid_argument("percentile of no values");
    }
    std::sort(values.begin(), values.end());
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const auto above = std::min(below + 1, values.size() - 1);
    const double fraction = rank - static_cast<double>(below);
    return values[below] + fraction * (values[above] - values[below]);
}

IntervalSummary summarize(const std::vector<double>& intervals, double periodMs) {
    IntervalSummary summary;
    summary.steps = intervals.size();
    if (intervals.empty()) {
        return summary;
    }
    summary.medianMs = percentile(intervals, 50);
    summary.p5Ms = percentile(intervals, 5);
    summary.p95Ms = percentile(intervals, 95);
    summary.p99Ms = percentile(intervals, 99);
    summary.maxMs = *std::max_element(intervals.begin(), intervals.end());
    summary.late = static_cast<std::size_t>(std::count_if(
        intervals.begin(), intervals.end(), [periodMs](double ms) { return ms > 1.5 * periodMs; }));
    return summary;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

std::string scriptLine(int periodMs, const IntervalSummary& summary, double cpuPercent,
                       double rssMiB) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "period_ms=%d steps=%zu median_ms=%.3f p5_ms=%.3f p95_ms=%.3f p99_ms=%.3f "
                  "max_ms=%.3f late=%zu cpu_pct=%.2f rss_mb=%.1f",
                  periodMs, summary.steps, summary.medianMs, summary.p5Ms, summary.p95Ms,
                  summary.p99Ms, summary.maxMs, summary.late, cpuPercent, rssMiB);
    return line;
}

}  // namespace runlight::bench
