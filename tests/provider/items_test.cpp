// Item files in chunks, the shared read offset, sizes and deletes; the busy days of free/busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "include/cvaicp.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeFreeBusyRequest;
using testing::MakeItemRequest;

class ItemsTest : public testing::AppointmentTest {
  protected:
    ItemsTest() { MakeCalendar(); }

    // Reads a whole item back through the chunked reads, counting the chunks.
    std::string Read(const char* name, int* chunks) {
        AppointmentItemRequest request = MakeItemRequest(name);
        std::string body;
        for (int32_t more = AppointmentItemGetFirstChunk(&request); more;
             more = AppointmentItemGetNextChunk(&request), ++*chunks) {
            body.append(request.Data, static_cast<size_t>(request.DataLength));
        }
        EXPECT_EQ(0, request.DataLength);
        return body;
    }
};

// Written 8191 bytes (the most a chunk carries) at a time, read back 8192 at a time.
TEST_F(ItemsTest, BodiesOfEverySizeComeBackInChunksOf8192) {
    for (size_t size : {0u, 1u, 8191u, 8192u, 8193u, 100000u}) {
        SCOPED_TRACE(size);
        std::string body;
        for (size_t i = 0; i < size; ++i) body += static_cast<char>('a' + i % 26);
        for (size_t at = 0; at == 0 || at < body.size(); at += 8191) {
            AppointmentItemRequest request = MakeItemRequest("item", body.substr(at, 8191));
            request.DataLength = 12345;  // never trusted on writes
            EXPECT_EQ(1, at == 0 ? AppointmentItemWriteFirstChunk(&request)
                                 : AppointmentItemWriteNextChunk(&request));
            EXPECT_EQ(static_cast<int32_t>(std::min<size_t>(8191, size - at)), request.DataLength);
        }
        int chunks = 0;
        EXPECT_EQ(body, Read("item", &chunks));
        EXPECT_EQ(static_cast<int>((size + 8191) / 8192), chunks);
        // The read that finds the end moves the offset one past the last byte.
        EXPECT_EQ(static_cast<int32_t>(size), AppointmentItemGetCurrentOffset(nullptr));
    }
    std::string binary;
    for (int i = 0; i < 20000; ++i) binary += static_cast<char>(i * 7);
    Put("bin", binary);
    int chunks = 0;
    EXPECT_EQ(binary, Read("bin", &chunks));  // bytes as stored, NULs and all
}

TEST_F(ItemsTest, OffsetFollowsTheReadsSizeAndDelete) {
    Put("big", std::string(10000, 'y'));
    AppointmentItemRequest request = MakeItemRequest("big");
    EXPECT_EQ(0, AppointmentItemGetSize(&request));  // resets the offset
    EXPECT_EQ(10000, request.DataLength);
    EXPECT_EQ(-1, AppointmentItemGetCurrentOffset(nullptr));
    ASSERT_EQ(1, AppointmentItemGetFirstChunk(&request));
    EXPECT_EQ(8192, request.DataLength);
    EXPECT_EQ(8191, AppointmentItemGetCurrentOffset(nullptr));
    ASSERT_EQ(1, AppointmentItemGetNextChunk(&request));
    EXPECT_EQ(1808, request.DataLength);
    EXPECT_EQ(9999, AppointmentItemGetCurrentOffset(nullptr));
    EXPECT_EQ(0, AppointmentItemGetNextChunk(&request));
    EXPECT_EQ(10000, AppointmentItemGetCurrentOffset(nullptr));  // one past, as each read moves it
    AppointmentItemRequest missing = MakeItemRequest("missing");
    missing.DataLength = 77;
    EXPECT_EQ(0, AppointmentItemGetNextChunk(&missing));
    EXPECT_EQ(77, missing.DataLength);  // not touched when the file cannot be opened
    EXPECT_EQ(10000, AppointmentItemGetCurrentOffset(nullptr));
    EXPECT_EQ(1, AppointmentItemDelete(&request));
    EXPECT_FALSE(Exists("big"));
    EXPECT_EQ(0, AppointmentItemGetSize(&request));
    EXPECT_EQ(0, request.DataLength);
    EXPECT_EQ(1, AppointmentItemDelete(&request));  // already gone: still 1
}

TEST_F(ItemsTest, WritesTakeTheTextUpToItsFirstNul) {
    struct {
        bool first;
        std::string data;  // "F": a whole chunk of F without a NUL
        int32_t length;
        std::string after;
    } cases[] = {{true, "abc", 3, "abc"},
                 {false, "def", 3, "abcdef"},
                 {true, "xy", 2, "xy"},
                 {true, std::string("\0zz", 3), 0, ""},
                 {true, "F", 8191, std::string(8191, 'F')}};
    for (const auto& c : cases) {
        AppointmentItemRequest request = MakeItemRequest("item", c.data);
        if (c.data == "F") std::memset(request.Data, 'F', sizeof request.Data);
        EXPECT_EQ(1, c.first ? AppointmentItemWriteFirstChunk(&request)
                             : AppointmentItemWriteNextChunk(&request));
        EXPECT_EQ(c.length, request.DataLength) << c.after;
        EXPECT_EQ(c.after, Contents("item"));
    }
}

// Free/busy lists the day files that a prefix starts, answering 1 whatever it finds; with no match
// the list is empty and the length left alone. A list that would overflow keeps the whole entries
// that fit.
TEST_F(ItemsTest, FreeBusyListsTheDayFilesThatThePrefixStarts) {
    for (const char* name :
         {"Y09M03D05.CAL", "Y09M03D17.CAL", "Y09M03.CAL", "Y09M04D01.CAL", "Y9.CAL", "Y.CAL"}) {
        Put(name, "1\t2\tx");
    }
    struct {
        const char* prefix;
        std::set<std::string> days;
        int32_t length;
    } cases[] = {{"Y09M03", {"05", "17"}, 5}, {"", {"05", "17", "01"}, 8}, {"Y09M05", {}, -7}};
    for (const auto& c : cases) {
        FreeBusyRequest request = MakeFreeBusyRequest(c.prefix);
        std::strcpy(request.BusyDays, "stale");
        request.BusyDaysLength = -7;
        EXPECT_EQ(1, GetFreeBusyData(&request));
        EXPECT_EQ(c.length, request.BusyDaysLength) << c.prefix;
        std::set<std::string> days;
        std::istringstream list(request.BusyDays);
        for (std::string day; std::getline(list, day, ',');) days.insert(day);
        EXPECT_EQ(c.days, days) << c.prefix;
    }
    // 3000 day files of 2 digits each need 8999 characters.
    for (int i = 0; i < 3000; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Y%04dD%02d.CAL", i, i % 100);
        Put(name, "");
    }
    FreeBusyRequest request = MakeFreeBusyRequest("Y");
    EXPECT_EQ(1, GetFreeBusyData(&request));
    size_t length = std::strlen(request.BusyDays);
    EXPECT_EQ(static_cast<int32_t>(length), request.BusyDaysLength);
    EXPECT_LE(length, 8191u);
    EXPECT_GE(length, 8189u);
    EXPECT_EQ(0u, (length + 1) % 3);  // "dd" entries and their commas, nothing cut in half
}

}  // namespace
}  // namespace cv
