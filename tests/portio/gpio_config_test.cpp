// The GPIO port's settings without a kernel: the eight lines, the chip among
// the chips a machine has, and the lines on that chip. (The lines themselves
// are driven in the VM test, tests/vm, against a real kernel.)

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gpio/gpio_config.h"

namespace runlight::portio {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

GpioLineRefs lines(const std::string& text) {
    GpioLineRefs parsed;
    std::string error;
    EXPECT_TRUE(parseGpioLines(text, parsed, error)) << error;
    return parsed;
}

std::string linesError(const std::string& text) {
    GpioLineRefs parsed;
    parsed[0].text = "untouched";
    std::string error;
    EXPECT_FALSE(parseGpioLines(text, parsed, error)) << text;
    EXPECT_EQ(parsed[0].text, "untouched") << "a refused text leaves the lines as they were";
    return error;
}

TEST(GpioLines, ReadsEightOffsetsOrNamesInLampOrder) {
    const GpioLineRefs parsed = lines("  17 27,22\t5 6 , 13 GPIO19 26\n");
    const std::vector<std::string> texts{"17", "27", "22", "5", "6", "13", "GPIO19", "26"};
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        EXPECT_EQ(parsed[i].text, texts[i]);
    }
    ASSERT_TRUE(parsed[0].offset);
    EXPECT_EQ(*parsed[0].offset, 17u) << "lamp 1 (D7) is the first line given";
    EXPECT_EQ(*parsed[7].offset, 26u);
    EXPECT_FALSE(parsed[6].offset) << "a name is looked up on the chip";
    EXPECT_EQ(*lines("0 1 2 3 4 5 6 65535")[7].offset, 65535u);
}

TEST(GpioLines, RefusesAnythingButEightDistinctLines) {
    EXPECT_THAT(linesError("17 27 22 5 6 13 19"),
                AllOf(HasSubstr("7 lines given"), HasSubstr("exactly eight")));
    EXPECT_THAT(linesError("17 27 22 5 6 13 19 26 4"), HasSubstr("9 lines given"));
    EXPECT_THAT(linesError(""), HasSubstr("0 lines given"));
    EXPECT_THAT(linesError("17 27 22 5 17 13 19 26"),
                AllOf(HasSubstr("line 17 is given twice"), HasSubstr("lamp 1 (D7)"),
                      HasSubstr("lamp 5 (D3)")));
    EXPECT_THAT(linesError("1 2 3 4 5 6 GPIO7 GPIO7"), HasSubstr("GPIO7 is given twice"));
    EXPECT_THAT(linesError("1 2 3 4 5 6 7 007"), HasSubstr("given twice"))
        << "007 and 7 are one offset";
    EXPECT_THAT(linesError("1 2 -3 4 5 6 7 8"),
                AllOf(HasSubstr("-3"), HasSubstr("lamp 3 (D5)"), HasSubstr("not a line offset")));
    EXPECT_THAT(linesError("1 2 3 4 5 6 7 65536"), HasSubstr("not a line offset (0 to 65535)"));
    EXPECT_THAT(linesError("1 2 3 4 5 6 7 99999999999999999999"), HasSubstr("not a line offset"));
}

TEST(GpioActiveLow, TakesYesOrNoInAnyCase) {
    bool value = false;
    std::string error;
    for (const char* yes : {"yes", "YES", "true", "on", "1"}) {
        value = false;
        EXPECT_TRUE(parseYesNo(yes, value, error)) << yes;
        EXPECT_TRUE(value) << yes;
    }
    for (const char* no : {"no", "No", "false", "off", "0"}) {
        value = true;
        EXPECT_TRUE(parseYesNo(no, value, error)) << no;
        EXPECT_FALSE(value) << no;
    }
    EXPECT_FALSE(parseYesNo("low", value, error));
    EXPECT_THAT(error, HasSubstr("\"low\" is neither yes nor no"));
}

// A Raspberry Pi 4 as it lists its chips, one of them not ours to open.
std::vector<GpioChipInfo> piChips() {
    return {{"gpiochip0", "/dev/gpiochip0", "pinctrl-bcm2711", 58, 0},
            {"gpiochip1", "/dev/gpiochip1", "raspberrypi-exp-gpio", 8, 0},
            {"gpiochip2", "/dev/gpiochip2", "", 0, EACCES}};
}

TEST(GpioChip, IsFoundByNameNumberPathOrLabel) {
    const auto chips = piChips();
    std::string error;
    EXPECT_EQ(findGpioChip("gpiochip1", chips, error), 1u);
    EXPECT_EQ(findGpioChip("1", chips, error), 1u);
    EXPECT_EQ(findGpioChip("/dev/gpiochip1", chips, error), 1u);
    EXPECT_EQ(findGpioChip("pinctrl-bcm2711", chips, error), 0u);
    EXPECT_EQ(findGpioChip("raspberrypi-exp-gpio", chips, error), 1u);
    EXPECT_EQ(findGpioChip("gpiochip2", chips, error), 2u)
        << "a chip named is found even if it cannot be opened: the error is the opening's";
}

TEST(GpioChip, UnknownOrMissingListsTheChipsThereAre) {
    const auto chips = piChips();
    std::string error;
    EXPECT_FALSE(findGpioChip("pinctrl-rp1", chips, error));
    EXPECT_THAT(error, AllOf(HasSubstr("no GPIO chip \"pinctrl-rp1\""),
                             HasSubstr("gpiochip0 [pinctrl-bcm2711] (58 lines)"),
                             HasSubstr("gpiochip1 [raspberrypi-exp-gpio] (8 lines)"),
                             HasSubstr("gpiochip2 (cannot be opened: Permission denied)")));
    EXPECT_FALSE(findGpioChip("gpiochip7", chips, error));
    EXPECT_FALSE(findGpioChip("/dev/gpiochip7", chips, error));
    EXPECT_FALSE(findGpioChip("7", chips, error));
    EXPECT_FALSE(findGpioChip("", chips, error));
    EXPECT_THAT(error, AllOf(HasSubstr("no chip given"), HasSubstr("pinctrl-bcm2711")));
    EXPECT_FALSE(findGpioChip("gpiochip0", {}, error));
    EXPECT_THAT(error, HasSubstr("there is no GPIO chip here"));
}

TEST(GpioChipLines, AreOffsetsInRangeOrNamesTheChipHas) {
    const GpioChipInfo chip{"gpiochip0", "/dev/gpiochip0", "gpio-sim.0-node0", 8, 0};
    const std::vector<std::string> names{"", "relay2", "relay3", "", "", "", "", "relay8"};
    GpioOffsets offsets{};
    std::string error;
    ASSERT_TRUE(resolveGpioLines(lines("7 relay2 relay3 0 3 4 5 6"), chip, names, offsets, error))
        << error;
    EXPECT_EQ(offsets, (GpioOffsets{7, 1, 2, 0, 3, 4, 5, 6}));

    EXPECT_FALSE(resolveGpioLines(lines("0 1 2 3 4 5 6 8"), chip, names, offsets, error));
    EXPECT_THAT(error, AllOf(HasSubstr("line 8 (lamp 8 (D0)) is out of range"),
                             HasSubstr("gpiochip0 [gpio-sim.0-node0] (8 lines) has lines 0 to 7")));
    EXPECT_FALSE(resolveGpioLines(lines("0 1 2 3 4 5 6 GPIO17"), chip, names, offsets, error));
    EXPECT_THAT(error, AllOf(HasSubstr("no line named \"GPIO17\" (lamp 8 (D0))"),
                             HasSubstr("relay2, relay3, relay8")));
    EXPECT_FALSE(resolveGpioLines(lines("0 relay2 1 3 4 5 6 7"), chip, names, offsets, error));
    EXPECT_THAT(error, AllOf(HasSubstr("relay2 and 1 are both line 1"), HasSubstr("lamp 2 (D6)"),
                             HasSubstr("lamp 3 (D5)")));
    EXPECT_FALSE(resolveGpioLines(lines("0 1 2 3 4 5 6 x"), chip, std::vector<std::string>(8),
                                  offsets, error));
    EXPECT_THAT(error, HasSubstr("the chip names none of its lines"));
}

}  // namespace
}  // namespace runlight::portio
