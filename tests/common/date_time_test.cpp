// Header dates must convert the same whatever the server's zone and season, so the zone-dependent
// conversions are checked under several zones. Natively the test selects each zone through TZ.
// Wine takes a process's zone from the Unix environment it was started with, which a Windows
// parent cannot change for a Windows child; there the checks run in a copy of this program that a
// Unix helper starts with TZ set.
#include "common/date_time.h"
#include "host/item_dates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_platform.h"
#include "platform/platform.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

constexpr char kNoOutput[] = "(untouched)";

// The parser's output, checked to be written exactly when it answers 1.
std::string Parsed(int (*parse)(const char*, char*), const char* text) {
    char out[kIsoDateSize] = "(untouched)";
    const bool parsed = parse(text, out) == 1;
    EXPECT_EQ(parsed, std::strcmp(out, kNoOutput) != 0) << text;
    return out;
}
std::string MessageDate(const char* text) {
    return Parsed(ParseMessageDate, text);
}
std::string ShortDate(const char* text) {
    return Parsed(ParseShortDate, text);
}

// Everything that depends on the zone, for a process whose zone has the given standard bias
// (minutes, UTC = local + bias). The expectations are the same in every zone except at the edges
// of the 32-bit range, where the local reading of the date decides.
void CheckConversions(int bias) {
    struct Row {
        const char* text;
        const char* iso;
    };
    const Row rows[] = {
        {"Tue, 07 Mar 2005 14:30:10 +0100", "2005-03-07T13:30:10"},
        {"7 Mar 2005 14:30:10 GMT", "2005-03-07T14:30:10"},
        {"Tue, 07 Mar 2005 14:30:10 -0530", "2005-03-07T20:00:10"},
        {"Tue, 07 Mar 2005 14:30:10 +0100 (CET)", "2005-03-07T13:30:10"},
        {"Tue, 07 Mar 2005 14:30:10", kNoOutput},
        {"Tue,  7 Mar 05 14:30:10 EST", "2005-03-07T14:30:10"},
        {"Tue, 07 Mar 2099 14:30:10 +0100", "2099-03-07T14:30:10"},
        // Northern and southern summer: the daylight shift must cancel out.
        {"Thu, 07 Jul 2005 14:30:10 +0200", "2005-07-07T12:30:10"},
        {"Fri, 07 Jan 2005 23:30:00 -0800", "2005-01-08T07:30:00"},
        {"Mon, 07 Mar 2005 24:00:00 gmt", "2005-03-08T00:00:00"},
        // No zone text: the fields as UTC, in summer too.
        {"Thu, 07 Jul 2005 14:30:10 ", "2005-07-07T14:30:10"},
        // Outside the 32-bit range in every zone: as written, no shift.
        {"Fri, 07 Mar 1969 14:30:10 +0100", "1969-03-07T14:30:10"},
        {"Wed, 20 Jan 2038 12:00:00 +0100", "2038-01-20T12:00:00"},
        {"Fri, 01 Jan 2038 12:00:00 +0100", "2038-01-01T11:00:00"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.iso, MessageDate(row.text)) << row.text;

    // The exact edges: the date read as local standard time must lie in 1970 to 2038-01-19
    // 03:14:07 UTC.
    EXPECT_EQ(bias <= -60 ? "2038-01-19T03:14:07" : "2038-01-19T04:14:07",
              MessageDate("Tue, 19 Jan 2038 04:14:07 +0100"));
    EXPECT_EQ(bias <= -61 ? "2038-01-19T03:14:08" : "2038-01-19T04:14:08",
              MessageDate("Tue, 19 Jan 2038 04:14:08 +0100"));
    EXPECT_EQ(bias > 0 ? "1969-12-31T23:00:00" : "1970-01-01T00:00:00",
              MessageDate("Thu, 01 Jan 1970 00:00:00 +0100"));
    EXPECT_EQ(1110205810, ParseShortDateToTime("14:30:10 07 Mar, 2005"));
    EXPECT_EQ(1120746600, ParseShortDateToTime("14:30 07 Jul, 2005"));
    EXPECT_EQ(1105099200, ParseShortDateToTime("12:00 07 Jan, 2005"));
}

TEST(HeaderFieldsTest, ExtractFieldAndMonthNames) {
    struct Case {
        const char *text, *start, *end;
        size_t size;
        int after;  // where the answer points in text, -1 for null
        const char* out;
    };
    const Case cases[] = {
        {"Tue, 07 Mar", "", ",", 32, 4, "Tue"},
        {"Tue, 07 Mar", " ", " ", 32, 8, "07"},
        {" 07 Mar", "", " ", 32, 4, " 07"},  // the end is searched from one character in
        {"14:30 +0100 (CET)", " ", nullptr, 32, -1, " +0100 (CET)"},  // no end: all the rest
        {"abcdef:", "", ":", 4, 7, "abc"},
        {"abc", "x", ":", 32, -1, "keep"},
        {":abc", "", ":", 32, -1, "keep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char out[32] = "keep";
        EXPECT_EQ(c.after < 0 ? nullptr : c.text + c.after,
                  ExtractField(c.text, c.start, c.end, out, c.size));
        EXPECT_STREQ(c.out, out);
    }
    EXPECT_EQ(10, MonthFromName("nOV"));
    EXPECT_EQ(11, MonthFromName("March"));  // December and anything unknown
}

TEST(HeaderDatesTest, FieldsGoThroughTheirRangeChecksAndAreCut) {
    EXPECT_EQ("2005-03-07T14:30:00", ShortDate("14:30 07 Mar, 2005"));
    EXPECT_EQ("2005-03-07T14:30:00", ShortDate("14:30:45 07 Mar, 2005"));
    EXPECT_EQ("2005-12-07T14:30:00", ShortDate("14:30 07 Dec, 2005"));
    EXPECT_EQ("2005-12-07T14:30:00", ShortDate("14:30 07 March, 2005"));
    EXPECT_EQ("2005-03-01T00:00:00", ShortDate("25:60 00 Mar, 05"));
    EXPECT_EQ("2005-02-31T24:00:00", ShortDate("24:00 31 Feb, 2005"));  // no calendar check
    // Fields are cut to 31 characters: the year's digits fall off behind 31 spaces.
    EXPECT_EQ("2000-03-07T14:30:00",
              ShortDate(("14:30 07 Mar, " + std::string(31, ' ') + "2006").c_str()));
    for (const char* missing : {"14:30 07 Mar 2005", "14:30:10 07Mar, 2005", "1430 07 Mar, 2005"}) {
        EXPECT_EQ(kNoOutput, ShortDate(missing));
        EXPECT_EQ(0, ParseShortDateToTime(missing)) << missing;
    }
    // 32 characters of day: the cut leaves 31 zeros, which read as day 0 and become the 1st.
    std::string text = "Tue, " + std::string(30, '0') + "07 Mar 2005 14:30:10 GMT";
    EXPECT_EQ("2005-03-01T14:30:10", MessageDate(text.c_str()));
}

// Runs in whatever zone the process has. A copy started for one zone is told that zone's bias and
// makes sure it got it.
TEST(DateTimeMachineZoneTest, ConversionsHold) {
    const TimeZoneInfo zone = GetTimeZoneInfo();
    ASSERT_NE(TimeZoneInfo::kInvalid, zone.state);
    if (const char* expected = std::getenv("CV_TEST_ZONE_BIAS")) {
        ASSERT_EQ(std::atoi(expected), zone.bias) << "the zone was not selected";
    }
    CheckConversions(zone.bias);
}

struct Zone {
    const char* name;
    int bias;  // standard time, minutes, UTC = local + bias
};

const Zone kZones[] = {
    {"UTC", 0},
    {"Europe/Berlin", -60},
    {"America/New_York", 300},
    {"Asia/Kolkata", -330},
    {"Australia/Lord_Howe", -630},  // a daylight shift of 30 minutes (60 under Wine)
};

bool UnderWine() {
    DynamicLibrary ntdll;
    return ntdll.Open("ntdll.dll") && ntdll.Symbol("wine_get_version") != nullptr;
}

// Under Wine: runs DateTimeMachineZoneTest in a copy of this program whose Unix environment names
// the zone. Wine passes a Windows process's environment on to a Unix program it starts, so the copy
// is started through env(1) with Wine's loader. Such a child gives back no process to wait for;
// the copy's report file shows when it is done.
void CheckInCopyUnderWine(const Zone& zone) {
    const char* loader_variable = std::getenv("WINELOADER");
    ASSERT_NE(nullptr, loader_variable);
    const std::string loader = loader_variable;  // changes to the environment may move it
    testing::TempFolder folder;
    const std::string report = folder.Join("report.xml");
    SetProcessEnvironment("TZ", zone.name);
    SetProcessEnvironment("CV_TEST_ZONE_BIAS", std::to_string(zone.bias).c_str());
    ChildProcess copy;
    // Wine keeps its loader's name out of the environment it passes on; the copy needs it.
    const bool started = copy.Start({"Z:\\usr\\bin\\env", "WINELOADER=" + loader, loader,
                                     ExecutablePath(), "--gtest_filter=DateTimeMachineZoneTest.*",
                                     "--gtest_brief=1", "--gtest_output=xml:" + report});
    SetProcessEnvironment("TZ", nullptr);
    SetProcessEnvironment("CV_TEST_ZONE_BIAS", nullptr);
    ASSERT_TRUE(started);
    std::string xml;
    for (int waited = 0; waited < 60000 && xml.find("</testsuites>") == std::string::npos;
         waited += 50) {
        SleepMilliseconds(50);
        xml = testing::ReadFileOrEmpty(report);
    }
    ASSERT_NE(std::string::npos, xml.find("</testsuites>")) << "no report from " << zone.name;
    EXPECT_NE(std::string::npos, xml.find("<testsuites tests=\"1\" failures=\"0\"")) << xml;
    EXPECT_NE(std::string::npos, xml.find("result=\"completed\"")) << xml;
}

TEST(DateTimeZoneTest, ConversionsHoldInEveryZone) {
    for (const Zone& zone : kZones) {
        SCOPED_TRACE(zone.name);
        if (UnderWine()) {
            CheckInCopyUnderWine(zone);
            continue;
        }
        SetProcessEnvironment("TZ", zone.name);
        EXPECT_EQ(zone.bias, GetTimeZoneInfo().bias) << "the zone could not be selected";
        CheckConversions(zone.bias);
        SetProcessEnvironment("TZ", nullptr);
    }
}

// The forms the hosts write into item headers, in UTC whatever the zone.
TEST(ItemDates, AreWrittenInUtc) {
    EXPECT_EQ("14:30:10 07 Mar, 2005", ShortDateText(1110205810));
    EXPECT_EQ("Mon, 07 Mar 2005 14:30:10 +0000", MessageDateText(1110205810));
    EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 +0000", MessageDateText(0));
}

}  // namespace
}  // namespace cv
