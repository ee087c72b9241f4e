#include "step_program.h"

#include <gtest/gtest.h>

#include "fake_window.h"

namespace runlight {
namespace {

using testing::FakeWindow;

struct Composition {
    FakeWindow window;
    StepProgram program{window};

    int compose(int step) { return program.ComposeStep(step); }
    void tick(int step, std::initializer_list<int> channels, Box value = Box::Checked) {
        for (int channel : channels) {
            window.channels.at(std::size_t(step - 1)).at(std::size_t(channel - 1)) = value;
        }
    }
};

TEST(StepProgram, ComposesFirstBoxAsHighBitAndLastAsLowBit) {
    Composition c;
    EXPECT_EQ(c.compose(1), 0) << "no box ticked";
    c.tick(1, {1});
    EXPECT_EQ(c.compose(1), 128);
    c.tick(2, {8});
    EXPECT_EQ(c.compose(2), 1);
    c.tick(3, {1, 3, 6, 8});
    EXPECT_EQ(c.compose(3), 0xA5);
    c.tick(16, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(c.compose(16), 255);
}

TEST(StepProgram, ReadsOnlyTheBoxesOfTheStepItComposes) {
    Composition c;
    for (int step = 1; step <= 16; ++step) {
        c.window.setStepByte(step - 1, step * 13 % 256);
    }
    for (int step = 1; step <= 16; ++step) {
        EXPECT_EQ(c.compose(step), step * 13 % 256) << "step " << step;
    }
}

TEST(StepProgram, GreyedBoxesCountAsOff) {
    Composition c;
    c.tick(5, {1, 2, 3, 4, 5, 6, 7, 8}, Box::Grayed);
    c.tick(5, {4});
    EXPECT_EQ(c.compose(5), 16);
    c.window.enables.at(4) = Box::Grayed;
    EXPECT_FALSE(c.program.isEnabled(5));
    c.window.enables.at(4) = Box::Checked;
    EXPECT_TRUE(c.program.isEnabled(5));
}

}  // namespace
}  // namespace runlight
