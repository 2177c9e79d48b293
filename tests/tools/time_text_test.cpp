#include "tools/cvcal/time_text.h"

#include <gtest/gtest.h>

#include <string>

namespace cvcal {
namespace {

int32_t Parse(const std::string& text) {
    int32_t seconds = -1;
    std::string reason;
    EXPECT_TRUE(ParseTimeArgument(text, &seconds, &reason)) << text << ": " << reason;
    return seconds;
}

std::string Refusal(const std::string& text) {
    int32_t seconds = 0;
    std::string reason;
    EXPECT_FALSE(ParseTimeArgument(text, &seconds, &reason)) << text;
    return reason;
}

TEST(ParseTimeArgument, ReadsSecondsAndUtcOrOffsetIsoTimes) {
    EXPECT_EQ(1110205810, Parse("1110205810"));
    EXPECT_EQ(0, Parse("0"));
    EXPECT_EQ(1110205810, Parse("2005-03-07T14:30:10Z"));
    EXPECT_EQ(1110205800, Parse("2005-03-07T14:30Z"));
    EXPECT_EQ(1110205810 - 3600, Parse("2005-03-07T14:30:10+01:00"));
    EXPECT_EQ(1110205810 + 5 * 3600 + 1800, Parse("2005-03-07T14:30:10-0530"));
    EXPECT_EQ(1110153600, Parse("2005-03-07Z"));
    EXPECT_EQ(2147483647, Parse("2038-01-19T03:14:07Z"));
    EXPECT_EQ(951782400, Parse("2000-02-29Z"));
    EXPECT_EQ(1110205810 + 14 * 3600, Parse("2005-03-07T14:30:10-14:00"));
}

TEST(ParseTimeArgument, AnEndWithoutATimeOfDayIsTheLastSecondOfThatDay) {
    int32_t seconds = 0;
    std::string reason;
    ASSERT_TRUE(ParseTimeArgument("2005-03-07Z", &seconds, &reason, DayPart::kEnd));
    EXPECT_EQ(1110153600 + 86399, seconds);
    ASSERT_TRUE(ParseTimeArgument("2005-03-07T10:00Z", &seconds, &reason, DayPart::kEnd));
    EXPECT_EQ(1110189600, seconds);
}

TEST(ParseTimeArgument, RefusesWhatIsNotATimeOrDoesNotFit) {
    for (const char* bad :
         {"", "someday", "+7x", "+d", "2005-13-01", "2005-02-29", "2004-02-30", "2005-04-31",
          "2005-03-07T25:00", "2005-03-07T14", "2005-03-07T14:30+1", "2005-03-07T14:30+14:01",
          "2005-03-07T14:30-1500", "2005-03-07T14:30+01:60", "2005/03/07", "99999999999"}) {
        EXPECT_FALSE(Refusal(bad).empty()) << bad;
    }
    EXPECT_EQ("outside 1970-01-01 to 2038-01-19", Refusal("2038-01-19T03:14:08Z"));
    EXPECT_EQ("outside 1970-01-01 to 2038-01-19", Refusal("1969-12-31T23:59Z"));
}

TEST(HeaderDates, AreWrittenInUtc) {
    EXPECT_EQ("14:30:10 07 Mar, 2005", ShortDateText(1110205810));
    EXPECT_EQ("Mon, 07 Mar 2005 14:30:10 +0000", MessageDateText(1110205810));
    EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 +0000", MessageDateText(0));
}

}  // namespace
}  // namespace cvcal
