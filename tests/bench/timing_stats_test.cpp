// The step-timing benchmark's arithmetic: a wrong percentile or a miscounted
// late step would publish a wrong figure without anyone noticing.

#include "timing_stats.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace runlight::bench {
namespace {

std::vector<TraceWrite> writesAt(std::initializer_list<std::int64_t> ns, int value = 1) {
    std::vector<TraceWrite> run;
    for (auto t : ns) {
        run.push_back({t, 888, value});
    }
    return run;
}

TEST(TimingStats, PercentilesInterpolateBetweenTheClosestRanks) {
    EXPECT_DOUBLE_EQ(percentile({4, 1, 3, 2}, 50), 2.5) << "even count: mean of the middle two";
    EXPECT_DOUBLE_EQ(percentile({3, 1, 2}, 50), 2.0);
    EXPECT_DOUBLE_EQ(percentile({7}, 99), 7.0);
    EXPECT_DOUBLE_EQ(percentile({5, 1, 9}, 0), 1.0);
    EXPECT_DOUBLE_EQ(percentile({5, 1, 9}, 100), 9.0);
    std::vector<double> hundredAndOne;
    for (int i = 100; i >= 0; --i) {
        hundredAndOne.push_back(i);
    }
    EXPECT_DOUBLE_EQ(percentile(hundredAndOne, 99), 99.0);
    EXPECT_DOUBLE_EQ(percentile(hundredAndOne, 5), 5.0);
    EXPECT_DOUBLE_EQ(percentile({0, 10}, 95), 9.5);
    EXPECT_THROW(percentile({}, 50), std::invalid_argument);
}

TEST(TimingStats, SummaryCountsOnlyStepsMoreThanHalfAPeriodLate) {
    const auto summary = summarize({2.0, 3.0, 3.0001, 2.1, 1.0, 9.5}, 2.0);
    EXPECT_EQ(summary.steps, 6u);
    EXPECT_EQ(summary.late, 2u) << "3.0 ms is exactly half a period late, not more";
    EXPECT_DOUBLE_EQ(summary.maxMs, 9.5);
    EXPECT_DOUBLE_EQ(summary.medianMs, 2.55);
    EXPECT_EQ(summarize({}, 2.0).steps, 0u);
}

TEST(TimingStats, TraceSplitsIntoRunsAtEachStartAndGivesIntervalsInMs) {
    std::istringstream trace{
        "100 888 7\n"  // before any START: belongs to no run
        "1000000 888 0\n"
        "3000000 888 17\n"
        "\n"
        "5500000 888 34\n"
        "9000000 888 0\n"
        "9100000 888 0\n"
        "12000000 888 17\n"};
    const auto runs = splitRuns(parseTrace(trace));
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].size(), 2u);
    EXPECT_TRUE(runs[1].empty()) << "STOP and START with no tick between";
    ASSERT_EQ(runs[2].size(), 1u);
    EXPECT_EQ(runs[2][0].ns, 12000000);
    EXPECT_EQ(runs[2][0].port, 888);
    const auto intervals = intervalsMs(runs[0]);
    ASSERT_EQ(intervals.size(), 1u);
    EXPECT_DOUBLE_EQ(intervals[0], 2.5);
    EXPECT_TRUE(intervalsMs(runs[2]).empty());
}

TEST(TimingStats, MalformedTraceLinesAreRefusedByLineNumber) {
    for (const char* bad : {"12 888\n", "12 888 1 4\n", "12 888 x\n", "-\n", "12 0x378 1\n"}) {
        std::istringstream trace{std::string("5 888 1\n") + bad};
        try {
            parseTrace(trace);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("line 2"), std::string::npos) << error.what();
        }
    }
}

TEST(TimingStats, CycleBreaksCountSkippedRepeatedAndStrangeBytesAcrossTheWrap) {
    const std::vector<int> cycle{10, 20, 30};
    auto run = [](std::initializer_list<int> values) {
        std::vector<TraceWrite> writes;
        for (int v : values) {
            writes.push_back({0, 888, v});
        }
        return writes;
    };
    EXPECT_EQ(countCycleBreaks(run({20, 30, 10, 20, 30, 10}), cycle), 0u) << "starts mid-cycle";
    EXPECT_EQ(countCycleBreaks(run({10, 30, 10}), cycle), 1u) << "20 skipped";
    EXPECT_EQ(countCycleBreaks(run({10, 10, 20}), cycle), 1u) << "10 repeated";
    EXPECT_EQ(countCycleBreaks(run({10, 99, 20}), cycle), 2u) << "a byte no step holds";
    EXPECT_EQ(countCycleBreaks(writesAt({1, 2}, 10), cycle), 1u);
}

}  // namespace
}  // namespace runlight::bench
