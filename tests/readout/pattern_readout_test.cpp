#include "pattern_readout.h"

#include <gtest/gtest.h>

#include "fake_window.h"

namespace runlight {
namespace {

using testing::FakeWindow;

struct Readout {
    FakeWindow window;
    PatternReadout readout{window};

    std::vector<std::string> show(int value) {
        readout.ShowPattern(static_cast<std::uint8_t>(value));
        return window.readout;
    }
};

using Lines = std::vector<std::string>;

TEST(Readout, MarksReadHighBitFirst) {
    Readout r;
    EXPECT_EQ(r.show(165), Lines{"x0x00x0x"});
    EXPECT_EQ(r.show(128), Lines{"x0000000"});
    EXPECT_EQ(r.show(1), Lines{"0000000x"});
    EXPECT_EQ(r.show(0), Lines{"00000000"});
    EXPECT_EQ(r.show(255), Lines{"xxxxxxxx"});
    EXPECT_EQ(r.show(5), Lines{"00000x0x"}) << "one hex digit is padded to two";
}

TEST(Readout, EveryByteShowsItsOwnBitsAndTheListKeepsOneLine) {
    Readout r;
    for (int value = 0; value < 256; ++value) {
        std::string expected;
        for (int bit = 7; bit >= 0; --bit) {
            expected += (value >> bit) & 1 ? 'x' : '0';
        }
        ASSERT_EQ(r.show(value), Lines{expected}) << "value " << value;
    }
}

TEST(Readout, PadHexPadsOnlyOneDigitTexts) {
    std::string one = "5";
    std::string two = "A5";
    PatternReadout::PadHex(one);
    PatternReadout::PadHex(two);
    EXPECT_EQ(one, "05");
    EXPECT_EQ(two, "A5");
}

TEST(Readout, NibbleToMarksMatchesUpperCaseDigitsOnly) {
    EXPECT_EQ(PatternReadout::NibbleToMarks("C"), "xx00");
    EXPECT_EQ(PatternReadout::NibbleToMarks("c"), "") << "no row matches";
}

}  // namespace
}  // namespace runlight
