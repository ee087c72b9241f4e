// The GPIO port's settings without a kernel: the chip among the chips a
// machine has, and the lines on that chip. (The lines themselves
// are driven in the VM test, tests/vm, against a real kernel.)

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gpio_config.h"

namespace runlight::portio {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

GpioLineRefs lines(const std::string& text) {
    const auto parsed = parseEightLines(text);
    EXPECT_TRUE(parsed) << parsed.error();
    return parsed ? *parsed : GpioLineRefs{};
}

// A Raspberry Pi 4 as it lists its chips, one of them not ours to open.
std::vector<GpioChipInfo> piChips() {
    return {{"gpiochip0", "/dev/gpiochip0", "pinctrl-bcm2711", 58, 0},
            {"gpiochip1", "/dev/gpiochip1", "raspberrypi-exp-gpio", 8, 0},
            {"gpiochip2", "/dev/gpiochip2", "", 0, EACCES}};
}

// The error of a failed Result, "" when it did not fail.
template <class T>
std::string errorOf(const Result<T>& result) {
    return result ? "" : result.error();
}

TEST(GpioChip, IsFoundByNameNumberPathOrLabel) {
    const auto chips = piChips();
    const auto index = [&chips](std::string_view wanted) {
        const auto found = findGpioChip(wanted, chips);
        return found ? *found : 99u;
    };
    EXPECT_EQ(index("gpiochip1"), 1u);
    EXPECT_EQ(index("1"), 1u);
    EXPECT_EQ(index("/dev/gpiochip1"), 1u);
    EXPECT_EQ(index("pinctrl-bcm2711"), 0u);
    EXPECT_EQ(index("raspberrypi-exp-gpio"), 1u);
    EXPECT_EQ(index("gpiochip2"), 2u)
        << "a chip named is found even if it cannot be opened: the error is the opening's";
}

TEST(GpioChip, UnknownOrMissingListsTheChipsThereAre) {
    const auto chips = piChips();
    EXPECT_THAT(errorOf(findGpioChip("pinctrl-rp1", chips)),
                AllOf(HasSubstr("no GPIO chip \"pinctrl-rp1\""),
                      HasSubstr("gpiochip0 [pinctrl-bcm2711] (58 lines)"),
                      HasSubstr("gpiochip1 [raspberrypi-exp-gpio] (8 lines)"),
                      HasSubstr("gpiochip2 (cannot be opened: Permission denied)")));
    EXPECT_FALSE(findGpioChip("gpiochip7", chips));
    EXPECT_FALSE(findGpioChip("/dev/gpiochip7", chips));
    EXPECT_FALSE(findGpioChip("7", chips));
    EXPECT_THAT(errorOf(findGpioChip("", chips)),
                AllOf(HasSubstr("no chip given"), HasSubstr("pinctrl-bcm2711")));
    EXPECT_THAT(errorOf(findGpioChip("gpiochip0", {})), HasSubstr("there is no GPIO chip here"));
}

TEST(GpioChipLines, AreOffsetsInRangeOrNamesTheChipHas) {
    const GpioChipInfo chip{"gpiochip0", "/dev/gpiochip0", "gpio-sim.0-node0", 8, 0};
    const std::vector<std::string> names{"", "relay2", "relay3", "", "", "", "", "relay8"};
    const auto offsets = resolveGpioLines(lines("7 relay2 relay3 0 3 4 5 6"), chip, names);
    ASSERT_TRUE(offsets) << offsets.error();
    EXPECT_EQ(*offsets, (GpioOffsets{7, 1, 2, 0, 3, 4, 5, 6}));

    EXPECT_THAT(errorOf(resolveGpioLines(lines("0 1 2 3 4 5 6 8"), chip, names)),
                AllOf(HasSubstr("line 8 (lamp 8 (D0)) is out of range"),
                      HasSubstr("gpiochip0 [gpio-sim.0-node0] (8 lines) has lines 0 to 7")));
    EXPECT_THAT(errorOf(resolveGpioLines(lines("0 1 2 3 4 5 6 GPIO17"), chip, names)),
                AllOf(HasSubstr("no line named \"GPIO17\" (lamp 8 (D0))"),
                      HasSubstr("relay2, relay3, relay8")));
    EXPECT_THAT(errorOf(resolveGpioLines(lines("0 relay2 1 3 4 5 6 7"), chip, names)),
                AllOf(HasSubstr("relay2 and 1 are both line 1"), HasSubstr("lamp 2 (D6)"),
                      HasSubstr("lamp 3 (D5)")));
    EXPECT_THAT(
        errorOf(resolveGpioLines(lines("0 1 2 3 4 5 6 x"), chip, std::vector<std::string>(8))),
        HasSubstr("the chip names none of its lines"));
}

}  // namespace
}  // namespace runlight::portio
