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

    // Writes a body through the chunked writes, 8191 bytes (the most a chunk carries) at a time.
    void Write(const char* name, const std::string& body) {
        for (size_t at = 0; at == 0 || at < body.size(); at += 8191) {
            AppointmentItemRequest request = MakeItemRequest(name, body.substr(at, 8191));
            request.DataLength = 12345;  // never trusted on writes
            EXPECT_EQ(1, at == 0 ? AppointmentItemWriteFirstChunk(&request)
                                 : AppointmentItemWriteNextChunk(&request));
            EXPECT_EQ(static_cast<int32_t>(std::min<size_t>(8191, body.size() - at)),
                      request.DataLength);
        }
    }

    // Reads a whole item back through the chunked reads.
    std::string Read(const char* name, int* chunks) {
        AppointmentItemRequest request = MakeItemRequest(name);
        std::string body;
        *chunks = 0;
        for (int32_t more = AppointmentItemGetFirstChunk(&request); more;
             more = AppointmentItemGetNextChunk(&request)) {
            EXPECT_GT(request.DataLength, 0);
            body.append(request.Data, static_cast<size_t>(request.DataLength));
            ++*chunks;
        }
        EXPECT_EQ(0, request.DataLength);
        return body;
    }
};

TEST_F(ItemsTest, BodiesOfEverySizeComeBackInChunksOf8192) {
    for (size_t size : {0u, 1u, 8191u, 8192u, 8193u, 100000u}) {
        SCOPED_TRACE(size);
        std::string body;
        for (size_t i = 0; i < size; ++i) body += static_cast<char>('a' + i % 26);
        Write("item", body);
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

TEST_F(ItemsTest, OffsetFollowsTheReads) {
    Put("big", std::string(10000, 'y'));
    AppointmentItemRequest request = MakeItemRequest("big");
    EXPECT_EQ(0, AppointmentItemGetSize(&request));  // resets the offset
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
}

TEST_F(ItemsTest, WritesTakeTheTextUpToItsFirstNul) {
    Write("item", "abc");
    AppointmentItemRequest next = MakeItemRequest("item", "def");
    EXPECT_EQ(1, AppointmentItemWriteNextChunk(&next));
    EXPECT_EQ("abcdef", Contents("item"));
    AppointmentItemRequest first = MakeItemRequest("item", "xy");
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&first));
    EXPECT_EQ("xy", Contents("item"));
    AppointmentItemRequest empty = MakeItemRequest("item", std::string("\0zz", 3));
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&empty));
    EXPECT_EQ(0, empty.DataLength);
    EXPECT_EQ("", Contents("item"));
    AppointmentItemRequest full = MakeItemRequest("item");
    std::memset(full.Data, 'F', sizeof full.Data);  // no NUL anywhere
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&full));
    EXPECT_EQ(8191, full.DataLength);
    EXPECT_EQ(std::string(8191, 'F'), Contents("item"));
}

TEST_F(ItemsTest, SizeAndDelete) {
    Put("item", std::string(1234, 'z'));
    AppointmentItemRequest request = MakeItemRequest("item");
    EXPECT_EQ(0, AppointmentItemGetSize(&request));
    EXPECT_EQ(1234, request.DataLength);
    EXPECT_EQ(1, AppointmentItemDelete(&request));
    EXPECT_FALSE(Exists("item"));
    EXPECT_EQ(0, AppointmentItemGetSize(&request));
    EXPECT_EQ(0, request.DataLength);
    EXPECT_EQ(1, AppointmentItemDelete(&request));  // already gone: still 1
}

class FreeBusyTest : public testing::AppointmentTest {
  protected:
    FreeBusyTest() {
        for (const char* name :
             {"Y09M03D05.CAL", "Y09M03D17.CAL", "Y09M03.CAL", "Y09M04D01.CAL", "Y9.CAL", "Y.CAL"}) {
            Put(name, "1\t2\tx");
        }
    }
    // The busy days of a prefix, as a set; the length is -7 when the call left it alone.
    static std::set<std::string> Days(const char* prefix, int32_t* length) {
        FreeBusyRequest request = MakeFreeBusyRequest(prefix);
        std::strcpy(request.BusyDays, "stale");
        request.BusyDaysLength = -7;
        EXPECT_EQ(1, GetFreeBusyData(&request));
        *length = request.BusyDaysLength;
        std::set<std::string> days;
        std::istringstream list(request.BusyDays);
        for (std::string day; std::getline(list, day, ',');) days.insert(day);
        return days;
    }
};

TEST_F(FreeBusyTest, ListsTheDayFilesThatThePrefixStarts) {
    using S = std::set<std::string>;
    int32_t length = 0;
    EXPECT_EQ((S{"05", "17"}), Days("Y09M03", &length));
    EXPECT_EQ(5, length);
    EXPECT_EQ((S{"05", "17", "01"}), Days("", &length));
    EXPECT_EQ(S{}, Days("Y09M05", &length));
    EXPECT_EQ(-7, length);  // no match: an empty list, and the length left alone
}

TEST_F(FreeBusyTest, KeepsWholeEntriesWhenTheListWouldOverflow) {
    // 3000 day files of 2 digits each need 8999 characters; only whole entries that fit are kept.
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
    EXPECT_NE(',', request.BusyDays[length - 1]);
    EXPECT_EQ(0u, (length + 1) % 3);  // "dd" entries and their commas, nothing cut in half
}

}  // namespace
}  // namespace cv
