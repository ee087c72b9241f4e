#include "step_sequencer.h"

#include <gtest/gtest.h>

#include "sequencer_rig.h"

namespace runlight {
namespace {

using testing::SequencerRig;
using Steps = std::vector<int>;

TEST(SequencerLoad, SetsSpeedTimerAndCaptionsWithoutTouchingThePort) {
    SequencerRig rig;
    EXPECT_EQ(rig.window.speedBar, 200);
    EXPECT_EQ(rig.seq.speed(), 200);
    EXPECT_EQ(rig.window.timerInterval, 200);
    EXPECT_FALSE(rig.seq.running());
    EXPECT_EQ(rig.seq.stepNo(), 0);
    EXPECT_EQ(rig.seq.module().PortAddr, 888);
    EXPECT_TRUE(rig.port.writes().empty());
    EXPECT_EQ(rig.window.startStopCaption, "START");
    EXPECT_EQ(rig.window.label6Caption, "Áll") << "the load handler leaves the design's caption";
}

TEST(SequencerLoad, TicksWhileStoppedDoNothing) {
    SequencerRig rig;
    rig.window.enableOnly({1, 2});
    EXPECT_EQ(rig.ticks(5), (Steps{0, 0, 0, 0, 0}));
    EXPECT_TRUE(rig.port.writes().empty());
    EXPECT_TRUE(rig.window.readout.empty());
}

TEST(SequencerSpeed, TimerPeriodFollowsTheBar) {
    SequencerRig rig;
    rig.moveBar(2);
    EXPECT_EQ(rig.seq.speed(), 2);
    EXPECT_EQ(rig.window.timerInterval, 2);
    rig.moveBar(800);
    EXPECT_EQ(rig.window.timerInterval, 800);
}

TEST(SequencerStartStop, StartWritesZeroToPort888AndTogglesCaptions) {
    SequencerRig rig;
    rig.window.enableOnly({1});
    rig.window.setStepByte(0, 255);
    rig.seq.Start_Stop_Click();
    ASSERT_EQ(rig.port.writes().size(), 1u);
    EXPECT_EQ(rig.port.writes()[0].port, 888);
    EXPECT_EQ(rig.port.writes()[0].value, 0);
    EXPECT_TRUE(rig.window.readout.empty()) << "starting does not refresh the readout";
    EXPECT_EQ(rig.window.startStopCaption, "STOP");
    EXPECT_EQ(rig.window.label6Caption, "Fut.");
    EXPECT_TRUE(rig.window.stepsRunning) << "the window's clock hears of the start";
    EXPECT_EQ(rig.tick(), 1);
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 255}));
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.window.startStopCaption, "START");
    EXPECT_EQ(rig.window.label6Caption, "Áll.");
    EXPECT_FALSE(rig.window.stepsRunning);
}

TEST(SequencerStartStop, StopLeavesPortReadoutAndHighlightUntilTheFirstTickOfTheNextRun) {
    SequencerRig rig;
    rig.window.enableOnly({1, 2, 3});
    rig.window.setStepByte(0, 0x81);
    rig.window.setStepByte(1, 0x42);
    rig.seq.Start_Stop_Click();
    rig.ticks(2);
    rig.seq.Start_Stop_Click();
    const auto writes = rig.port.writes().size();
    rig.ticks(3);
    EXPECT_EQ(rig.port.writes().size(), writes);
    EXPECT_EQ(rig.window.redSteps(), Steps{2});
    EXPECT_EQ(rig.window.readout, std::vector<std::string>{"0x0000x0"});

    rig.seq.Start_Stop_Click();  // START again: 0 at once, step 1 at the next tick
    EXPECT_EQ(rig.port.values().back(), 0);
    EXPECT_EQ(rig.window.redSteps(), Steps{2});
    EXPECT_EQ(rig.window.readout, std::vector<std::string>{"0x0000x0"});
    EXPECT_EQ(rig.tick(), 1);
    EXPECT_EQ(rig.port.values().back(), 0x81);
}

// The steps the ticks after a START show, for a fixed set of enabled steps.
struct Walk {
    Steps enabled;
    Steps shown;  // 0 = blank tick
};

void PrintTo(const Walk& walk, std::ostream* out) {
    *out << "enabled " << ::testing::PrintToString(walk.enabled) << " shows "
         << ::testing::PrintToString(walk.shown);
}

class SequencerWalk : public ::testing::TestWithParam<Walk> {};

TEST_P(SequencerWalk, ShowsTheEnabledStepsWithTheDesignedBlankTicks) {
    SequencerRig rig;
    for (int step = 1; step <= 16; ++step) {
        rig.window.setStepByte(step - 1, step * 7);
    }
    rig.window.enables.fill(Box::Unchecked);
    for (int step : GetParam().enabled) {
        rig.window.enables.at(std::size_t(step - 1)) = Box::Checked;
    }
    rig.seq.Start_Stop_Click();
    std::vector<int> expectedBytes{0};
    for (int step : GetParam().shown) {
        if (step != 0) {
            expectedBytes.push_back(step * 7);
        }
    }
    EXPECT_EQ(rig.ticks(int(GetParam().shown.size())), GetParam().shown);
    EXPECT_EQ(rig.port.values(), expectedBytes);
    for (const auto& write : rig.port.writes()) {
        EXPECT_EQ(write.port, 888);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EnabledSets, SequencerWalk,
    ::testing::Values(Walk{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2}},
                      Walk{{3, 7}, {0, 3, 7, 0, 3, 7, 0, 3}}, Walk{{3}, {0, 3, 0, 3, 0, 3}},
                      Walk{{16}, {0, 16, 0, 16, 0}}, Walk{{1, 5}, {1, 5, 1, 5, 1}},
                      Walk{{2, 16}, {0, 2, 16, 2, 16, 2}}, Walk{{2}, {0, 2, 2, 2, 2}},
                      Walk{{1}, {1, 1, 1, 1}}, Walk{{15, 16}, {0, 15, 16, 0, 15, 16}},
                      Walk{{1, 16}, {1, 16, 1, 16}}, Walk{{}, {0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<Walk>& param) {
        std::string name = "Enabled";
        for (int step : param.param.enabled) {
            name += "_" + std::to_string(step);
        }
        return param.param.enabled.size() == 16 ? std::string("AllEnabled")
               : param.param.enabled.empty()    ? std::string("NoneEnabled")
                                                : name;
    });

TEST(SequencerWalk, NoEnabledStepLeavesPortReadoutAndColoursAlone) {
    SequencerRig rig;
    rig.seq.Start_Stop_Click();
    rig.ticks(40);
    EXPECT_EQ(rig.port.values(), std::vector<int>{0});
    EXPECT_TRUE(rig.window.readout.empty());
    EXPECT_TRUE(rig.window.redSteps().empty());
}

TEST(SequencerWalk, BlankTickClearsTheHighlightButKeepsPortAndReadout) {
    SequencerRig rig;
    rig.window.enableOnly({3});
    rig.window.setStepByte(2, 0xA5);
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.ticks(2), (Steps{0, 3}));
    EXPECT_EQ(rig.tick(), 0);
    EXPECT_TRUE(rig.window.redSteps().empty());
    EXPECT_EQ(rig.window.readout, std::vector<std::string>{"x0x00x0x"});
    EXPECT_EQ(rig.port.values().back(), 0xA5);
}

TEST(SequencerEdits, DisablingTheNextStepMakesOneBlankTick) {
    SequencerRig rig;
    rig.window.enableOnly({1, 2, 3});
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.tick(), 1);
    rig.window.enables.at(1) = Box::Unchecked;
    EXPECT_EQ(rig.ticks(3), (Steps{0, 3, 1}));
}

TEST(SequencerEdits, EnablingAStepAlreadyPassedOverCountsFromTheNextCycle) {
    SequencerRig rig;
    rig.window.enableOnly({1, 3});
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.tick(), 1);
    rig.window.enables.at(1) = Box::Checked;
    EXPECT_EQ(rig.ticks(4), (Steps{3, 1, 2, 3}));
}

TEST(SequencerEdits, ChannelEditsReachThePortTheNextTimeTheStepIsShown) {
    SequencerRig rig;
    rig.window.enableOnly({1, 2});
    rig.window.setStepByte(0, 0x01);
    rig.window.setStepByte(1, 0x02);
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.tick(), 1);
    rig.window.setStepByte(0, 0xF0);  // step 1 edited while step 2 is next
    EXPECT_EQ(rig.tick(), 2);
    EXPECT_EQ(rig.port.values().back(), 0x02);
    EXPECT_EQ(rig.tick(), 1);
    EXPECT_EQ(rig.port.values().back(), 0xF0);
    EXPECT_EQ(rig.window.readout, std::vector<std::string>{"xxxx0000"});
}

TEST(SequencerEdits, GreyedEnableBoxIsPassedOverLikeAnUntickedOne) {
    SequencerRig rig;
    rig.window.enableOnly({1, 3});
    rig.window.enables.at(1) = Box::Grayed;
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.ticks(4), (Steps{1, 3, 1, 3}));
}

// A port that fails must cost nothing but the run: the sequencer stops as a
// STOP click leaves it, the failure is reported once, the step program stays.
TEST(SequencerPortFailure, FailedStartStopsAndReportsOnce) {
    SequencerRig rig;
    rig.window.enableOnly({1});
    rig.window.setStepByte(0, 0x3C);
    const auto boxes = rig.window.channels;
    bool runningDuringReport = true;
    rig.window.onReport = [&] { runningDuringReport = rig.seq.running(); };
    rig.port.failure = "no port here";

    rig.seq.Start_Stop_Click();
    EXPECT_FALSE(rig.seq.running());
    EXPECT_FALSE(rig.window.stepsRunning);
    EXPECT_FALSE(runningDuringReport) << "stopped before the report is shown";
    EXPECT_EQ(rig.window.startStopCaption, "START");
    EXPECT_EQ(rig.window.label6Caption, "Áll.");
    EXPECT_EQ(rig.window.reports, std::vector<std::string>{"no port here"});
    EXPECT_EQ(rig.window.channels, boxes);
    EXPECT_EQ(rig.ticks(3), (Steps{0, 0, 0}));

    rig.port.failure.reset();
    rig.seq.Start_Stop_Click();
    EXPECT_TRUE(rig.seq.running());
    EXPECT_EQ(rig.tick(), 1);
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x3C}));
    EXPECT_EQ(rig.window.reports.size(), 1u);
}

TEST(SequencerPortFailure, FailedTickStopsReportsOnceAndKeepsTheCounterInRange) {
    SequencerRig rig;
    rig.window.enableOnly({16});
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.tick(), 0);
    rig.port.failure = "unplugged";
    rig.seq.Timer1_Timer();  // reaches step 16 and fails to write it
    EXPECT_FALSE(rig.seq.running());
    EXPECT_FALSE(rig.window.stepsRunning) << "the window's clock must stop waking for steps";
    EXPECT_EQ(rig.window.reports, std::vector<std::string>{"unplugged"});
    EXPECT_GE(rig.seq.stepNo(), 0);
    EXPECT_LE(rig.seq.stepNo(), 15);
    EXPECT_TRUE(rig.window.readout.empty()) << "nothing shown for a byte that was not written";
    rig.ticks(3);
    EXPECT_EQ(rig.window.reports.size(), 1u);
}

// The tick whose write fails: its step's box is red (it is the step being
// shown when the write failed), the readout still shows the step before (its
// byte is the last one on the port), and the run stops and reports even when
// the failure has no text at all.
TEST(SequencerPortFailure, AFailedTickMarksItsStepKeepsTheReadoutAndStopsWhateverTheText) {
    SequencerRig rig;
    rig.window.enableOnly({1, 2});
    rig.window.setStepByte(0, 0x81);
    rig.window.setStepByte(1, 0x18);
    rig.seq.Start_Stop_Click();
    EXPECT_EQ(rig.tick(), 1);
    ASSERT_EQ(rig.window.readout, std::vector<std::string>{"x000000x"});

    rig.port.failure = "";
    rig.seq.Timer1_Timer();  // step 2 fails
    EXPECT_FALSE(rig.seq.running()) << "a failure with an empty text was taken for success";
    EXPECT_EQ(rig.window.reports, std::vector<std::string>{""});
    EXPECT_EQ(rig.window.redSteps(), std::vector<int>{2});
    EXPECT_EQ(rig.window.readout, std::vector<std::string>{"x000000x"});
    EXPECT_EQ(rig.port.values(), (std::vector<int>{0, 0x81}));
}

}  // namespace
}  // namespace runlight
