#pragma once

// What the step-timing benchmark computes from the port library's trace and
// from the process's own accounting. No Qt here, so the arithmetic is tested
// on its own.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace runlight::bench {

// One line of the trace: "T PORT BYTE", T = CLOCK_MONOTONIC in ns, PORT and
// BYTE in decimal.
struct TraceWrite {
    std::int64_t ns = 0;
    int port = 0;
    int value = 0;
};

// Reads every line of a trace. Throws std::runtime_error naming the line
// number for a line that is not three decimal whole numbers (empty lines are
// skipped).
std::vector<TraceWrite> parseTrace(std::istream& in);

// The writes of each run: START writes 0, so a run is everything after a 0
// up to the next 0 (or the end). Writes before the first 0 belong to no run.
// The bytes of the step program must therefore all be non-zero.
std::vector<std::vector<TraceWrite>> splitRuns(const std::vector<TraceWrite>& writes);

// Number of writes whose byte is not the one the cycle predicts from the
// write before it: `cycle` holds the bytes of the enabled steps in step
// order, and a run may begin anywhere in it. 0 means no step was skipped,
// repeated or garbled.
std::size_t countCycleBreaks(const std::vector<TraceWrite>& run, const std::vector<int>& cycle);

// Intervals in ms between consecutive writes of one run.
std::vector<double> intervalsMs(const std::vector<TraceWrite>& run);

// The p-th percentile (0..100) by linear interpolation between the closest
// ranks (the common "type 7" definition: p 50 of an even count is the mean of
// the two middle values). Throws std::invalid_argument for no values.
double percentile(std::vector<double> values, double p);

struct IntervalSummary {
    std::size_t steps = 0;  // intervals measured
    double medianMs = 0;
    double p5Ms = 0;
    double p95Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
    // Steps that came more than half a period after the moment one period
    // after the step before: interval > 1.5 x period.
    std::size_t late = 0;
};

IntervalSummary summarize(const std::vector<double>& intervals, double periodMs);

// CPU time (user + system, all threads) this process has used so far, in s.
double processCpuSeconds();
// Peak resident memory of this process so far, in MiB (getrusage ru_maxrss).
double peakRssMiB();

// One line for scripts: "period_ms=2 steps=1000 median_ms=2.000 ... rss_mb=...".
std::string scriptLine(int periodMs, const IntervalSummary& summary, double cpuPercent,
                       double rssMiB);

}  // namespace runlight::bench
