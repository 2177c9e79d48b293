// Item files in chunks, the shared read offset, sizes, deletes and hostile names.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "include/cvaicp.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

class ItemsTest : public testing::AppointmentTest {
  protected:
    ItemsTest() { MakeCalendar(); }

    static AppointmentItemRequest Item(const char* name, const std::string& data = "") {
        AppointmentItemRequest request;
        std::memset(&request, 0, sizeof request);
        std::strcpy(request.Postoffice, "example");
        std::strcpy(request.Mailbox, "anna");
        std::strncpy(request.ItemFileName, name, sizeof request.ItemFileName - 1);
        std::memcpy(request.Data, data.data(), std::min(data.size(), sizeof request.Data));
        request.DataLength = 12345;  // never trusted on writes
        return request;
    }

    // Writes a body through the chunked writes, 8191 bytes (the most a chunk carries) at a time.
    void Write(const char* name, const std::string& body) {
        for (size_t at = 0; at == 0 || at < body.size(); at += 8191) {
            AppointmentItemRequest request = Item(name, body.substr(at, 8191));
            EXPECT_EQ(1, at == 0 ? AppointmentItemWriteFirstChunk(&request)
                                 : AppointmentItemWriteNextChunk(&request));
            EXPECT_EQ(static_cast<int32_t>(std::min<size_t>(8191, body.size() - at)),
                      request.DataLength);
        }
    }

    // Reads a whole item back through the chunked reads.
    std::string Read(const char* name, int* chunks = nullptr) {
        AppointmentItemRequest request = Item(name);
        std::string body;
        int count = 0;
        for (int32_t more = AppointmentItemGetFirstChunk(&request); more;
             more = AppointmentItemGetNextChunk(&request)) {
            EXPECT_GT(request.DataLength, 0);
            body.append(request.Data, static_cast<size_t>(request.DataLength));
            ++count;
        }
        EXPECT_EQ(0, request.DataLength);
        if (chunks) *chunks = count;
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
}

TEST_F(ItemsTest, ReadsDeliverBinaryBytesAsStored) {
    std::string binary;
    for (int i = 0; i < 20000; ++i) binary += static_cast<char>(i * 7);
    Put("bin", binary);
    EXPECT_EQ(binary, Read("bin"));
}

TEST_F(ItemsTest, OffsetFollowsTheReads) {
    Put("hundred", std::string(100, 'x'));
    Put("big", std::string(10000, 'y'));
    AppointmentItemRequest request = Item("big");
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

    AppointmentItemRequest small = Item("hundred");
    ASSERT_EQ(1, AppointmentItemGetFirstChunk(&small));
    EXPECT_EQ(99, AppointmentItemGetCurrentOffset(nullptr));
    AppointmentItemRequest missing = Item("missing");
    missing.DataLength = 77;
    EXPECT_EQ(0, AppointmentItemGetNextChunk(&missing));
    EXPECT_EQ(77, missing.DataLength);  // not touched when the file cannot be opened
    EXPECT_EQ(99, AppointmentItemGetCurrentOffset(nullptr));
}

TEST_F(ItemsTest, WritesTakeTheTextUpToItsFirstNul) {
    Write("item", "abc");
    AppointmentItemRequest next = Item("item", "def");
    EXPECT_EQ(1, AppointmentItemWriteNextChunk(&next));
    EXPECT_EQ("abcdef", Contents("item"));
    AppointmentItemRequest first = Item("item", "xy");
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&first));
    EXPECT_EQ("xy", Contents("item"));
    AppointmentItemRequest empty = Item("item", std::string("\0zz", 3));
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&empty));
    EXPECT_EQ(0, empty.DataLength);
    EXPECT_EQ("", Contents("item"));
    AppointmentItemRequest full = Item("item");
    std::memset(full.Data, 'F', sizeof full.Data);  // no NUL anywhere
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&full));
    EXPECT_EQ(8191, full.DataLength);
    EXPECT_EQ(std::string(8191, 'F'), Contents("item"));
}

TEST_F(ItemsTest, SizeAndDelete) {
    Put("item", std::string(1234, 'z'));
    AppointmentItemRequest request = Item("item");
    EXPECT_EQ(0, AppointmentItemGetSize(&request));
    EXPECT_EQ(1234, request.DataLength);
    EXPECT_EQ(1, AppointmentItemDelete(&request));
    EXPECT_FALSE(Exists("item"));
    EXPECT_EQ(0, AppointmentItemGetSize(&request));
    EXPECT_EQ(0, request.DataLength);
    EXPECT_EQ(1, AppointmentItemDelete(&request));  // already gone: still 1
}

TEST_F(ItemsTest, HostileNamesReadNothingAndWriteNothing) {
    Put("item", "secret");
    testing::WriteFileBytes(store_.root() + "\\example\\MAILROOT\\anna\\outside", "outside");
    for (const char* bad : {"..\\outside", "../outside", "..", ".", "C:x", "*", "it?m", ""}) {
        SCOPED_TRACE(bad);
        AppointmentItemRequest read = Item(bad);
        EXPECT_EQ(0, AppointmentItemGetFirstChunk(&read));
        read.DataLength = 5;
        EXPECT_EQ(0, AppointmentItemGetSize(&read));
        EXPECT_EQ(0, read.DataLength);
        AppointmentItemRequest write = Item(bad, "overwritten");
        EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&write));
        EXPECT_EQ(1, AppointmentItemWriteNextChunk(&write));
        EXPECT_EQ(1, AppointmentItemDelete(&write));
    }
    AppointmentItemRequest unterminated = Item("item");
    std::memset(unterminated.ItemFileName, 'i', sizeof unterminated.ItemFileName);
    EXPECT_EQ(0, AppointmentItemGetFirstChunk(&unterminated));
    EXPECT_EQ(1, AppointmentItemDelete(&unterminated));
    AppointmentItemRequest bad_mailbox = Item("item");
    std::strcpy(bad_mailbox.Mailbox, "..");
    EXPECT_EQ(0, AppointmentItemGetFirstChunk(&bad_mailbox));
    EXPECT_EQ("secret", Contents("item"));
    EXPECT_EQ("outside",
              testing::ReadFileOrEmpty(store_.root() + "\\example\\MAILROOT\\anna\\outside"));
}

class FreeBusyTest : public testing::AppointmentTest {
  protected:
    FreeBusyTest() {
        MakeCalendar();
        for (const char* name :
             {"Y09M03D05.CAL", "Y09M03D17.CAL", "Y09M03.CAL", "Y09M04D01.CAL", "Y9.CAL", "Y.CAL"}) {
            Put(name, "1\t2\tx");
        }
    }
    static FreeBusyRequest Ask(const char* prefix) {
        FreeBusyRequest request;
        std::memset(&request, 0, sizeof request);
        std::strcpy(request.Postoffice, "example");
        std::strcpy(request.Mailbox, "anna");
        std::strcpy(request.NamePrefix, prefix);
        std::strcpy(request.BusyDays, "stale");
        request.BusyDaysLength = -7;
        return request;
    }
    static std::set<std::string> Days(const FreeBusyRequest& request) {
        std::set<std::string> days;
        std::string all = request.BusyDays;
        for (size_t at = 0; !all.empty() && at <= all.size();) {
            size_t comma = all.find(',', at);
            days.insert(
                all.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        return days;
    }
};

TEST_F(FreeBusyTest, ListsTheDayFilesOfTheMonth) {
    FreeBusyRequest request = Ask("Y09M03");
    EXPECT_EQ(1, GetFreeBusyData(&request));
    EXPECT_EQ((std::set<std::string>{"05", "17"}), Days(request));
    EXPECT_EQ(5, request.BusyDaysLength);
}

TEST_F(FreeBusyTest, NoMatchGivesAnEmptyListAndLeavesTheLengthAlone) {
    FreeBusyRequest request = Ask("Y09M05");
    EXPECT_EQ(1, GetFreeBusyData(&request));
    EXPECT_STREQ("", request.BusyDays);
    EXPECT_EQ(-7, request.BusyDaysLength);
}

TEST_F(FreeBusyTest, EmptyPrefixListsEveryDayFile) {
    FreeBusyRequest request = Ask("");
    EXPECT_EQ(1, GetFreeBusyData(&request));
    EXPECT_EQ((std::set<std::string>{"05", "17", "01"}), Days(request));
}

TEST_F(FreeBusyTest, KeepsWholeEntriesWhenTheListWouldOverflow) {
    // 3000 day files of 2 digits each need 8999 characters; only whole entries that fit are kept.
    for (int i = 0; i < 3000; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Y%04dD%02d.CAL", i, i % 100);
        Put(name, "");
    }
    FreeBusyRequest request = Ask("Y");
    EXPECT_EQ(1, GetFreeBusyData(&request));
    size_t length = std::strlen(request.BusyDays);
    EXPECT_EQ(static_cast<int32_t>(length), request.BusyDaysLength);
    EXPECT_LE(length, 8191u);
    EXPECT_GE(length, 8189u);
    EXPECT_NE(',', request.BusyDays[length - 1]);
    EXPECT_EQ(0u, (length + 1) % 3);  // "dd" entries and their commas, nothing cut in half
}

TEST_F(FreeBusyTest, HostilePrefixesAndNamesGetAnEmptyAnswer) {
    for (const char* bad : {"..\\", "../Y", "C:"}) {
        FreeBusyRequest request = Ask(bad);
        EXPECT_EQ(1, GetFreeBusyData(&request));
        EXPECT_STREQ("", request.BusyDays);
        EXPECT_EQ(-7, request.BusyDaysLength);
    }
    FreeBusyRequest mailbox = Ask("Y09M03");
    std::strcpy(mailbox.Mailbox, "..");
    EXPECT_EQ(1, GetFreeBusyData(&mailbox));
    EXPECT_STREQ("", mailbox.BusyDays);
    FreeBusyRequest unterminated = Ask("");
    std::memset(unterminated.NamePrefix, 'Y', sizeof unterminated.NamePrefix);
    EXPECT_EQ(1, GetFreeBusyData(&unterminated));
    EXPECT_STREQ("", unterminated.BusyDays);
    EXPECT_EQ(1, GetFreeBusyData(nullptr));
}

}  // namespace
}  // namespace cv
