#include "tools/cvcal/time_text.h"

#include <gtest/gtest.h>

#include <string>

namespace cvcal {
namespace {

TEST(ParseTimeArgument, ReadsSecondsAndUtcOrOffsetIsoTimes) {
    const struct {
        const char* text;
        int32_t seconds;
        DayPart part;
    } cases[] = {
        {"1110205810", 1110205810, DayPart::kStart},
        {"0", 0, DayPart::kStart},
        {"2005-03-07T14:30:10Z", 1110205810, DayPart::kStart},
        {"2005-03-07T14:30Z", 1110205800, DayPart::kStart},
        {"2005-03-07T14:30:10+01:00", 1110205810 - 3600, DayPart::kStart},
        {"2005-03-07T14:30:10-0530", 1110205810 + 5 * 3600 + 1800, DayPart::kStart},
        {"2005-03-07T14:30:10-14:00", 1110205810 + 14 * 3600, DayPart::kStart},
        {"2005-03-07Z", 1110153600, DayPart::kStart},
        {"2038-01-19T03:14:07Z", 2147483647, DayPart::kStart},
        {"2000-02-29Z", 951782400, DayPart::kStart},
        // An end without a time of day is the last second of that day.
        {"2005-03-07Z", 1110153600 + 86399, DayPart::kEnd},
        {"2005-03-07T10:00Z", 1110189600, DayPart::kEnd},
    };
    for (const auto& c : cases) {
        int32_t seconds = -1;
        std::string reason;
        EXPECT_TRUE(ParseTimeArgument(c.text, &seconds, &reason, c.part)) << c.text << reason;
        EXPECT_EQ(c.seconds, seconds) << c.text;
    }
}

TEST(ParseTimeArgument, RefusesWhatIsNotATimeOrDoesNotFit) {
    for (const char* bad :
         {"", "someday", "+7x", "+d", "2005-13-01", "2005-02-29", "2004-02-30", "2005-04-31",
          "2005-03-07T25:00", "2005-03-07T14", "2005-03-07T14:30+1", "2005-03-07T14:30+14:01",
          "2005-03-07T14:30-1500", "2005-03-07T14:30+01:60", "2005/03/07", "99999999999",
          "2038-01-19T03:14:08Z", "1969-12-31T23:59Z"}) {
        int32_t seconds = 0;
        std::string reason;
        EXPECT_FALSE(ParseTimeArgument(bad, &seconds, &reason)) << bad;
        EXPECT_FALSE(reason.empty()) << bad;
        if (std::string(bad).find("T03:14:08") != std::string::npos) {
            EXPECT_EQ("outside 1970-01-01 to 2038-01-19", reason);
        }
    }
}

}  // namespace
}  // namespace cvcal
