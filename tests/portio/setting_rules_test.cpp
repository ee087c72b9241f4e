// The rules a setting's value must follow that are more than a range: the
// eight lines of a port on GPIO lines, and yes/no.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "setting_rules.h"

namespace runlight::portio {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

LampLines lines(const std::string& text) {
    const auto parsed = parseEightLines(text);
    EXPECT_TRUE(parsed) << parsed.error();
    return parsed ? *parsed : LampLines{};
}

std::string linesError(const std::string& text) {
    const auto parsed = parseEightLines(text);
    EXPECT_FALSE(parsed) << text;
    return parsed ? "" : parsed.error();
}

TEST(EightLines, ReadsEightOffsetsOrNamesInLampOrder) {
    const LampLines parsed = lines("  17 27,22\t5 6 , 13 GPIO19 26\n");
    const std::vector<std::string> texts{"17", "27", "22", "5", "6", "13", "GPIO19", "26"};
    for (std::size_t i = 0; i < kLampCount; ++i) {
        EXPECT_EQ(parsed[i].text, texts[i]);
    }
    ASSERT_TRUE(parsed[0].offset);
    EXPECT_EQ(*parsed[0].offset, 17u) << "lamp 1 (D7) is the first line given";
    EXPECT_EQ(*parsed[7].offset, 26u);
    EXPECT_FALSE(parsed[6].offset) << "a name is looked up on the chip";
    EXPECT_EQ(*lines("0 1 2 3 4 5 6 65535")[7].offset, 65535u);
}

TEST(EightLines, RefusesAnythingButEightDistinctLines) {
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

TEST(YesNo, TakesYesOrNoInAnyCase) {
    for (const char* yes : {"yes", "YES", "true", "on", "1"}) {
        const auto value = parseYesNo(yes);
        EXPECT_TRUE(value && *value) << yes;
    }
    for (const char* no : {"no", "No", "false", "off", "0"}) {
        const auto value = parseYesNo(no);
        EXPECT_TRUE(value && !*value) << no;
    }
    const auto low = parseYesNo("low");
    ASSERT_FALSE(low);
    EXPECT_THAT(low.error(), HasSubstr("\"low\" is neither yes nor no"));
}

}  // namespace
}  // namespace runlight::portio
