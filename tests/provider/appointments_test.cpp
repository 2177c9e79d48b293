// Adding, removing, editing and reading appointments: the bytes on disk and the results, also in
// a Calendar folder whose files another tool wrote under other letter cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "include/cvaicp.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeRequest;

class AppointmentsTest : public testing::AppointmentTest {};

// A change of period Y09M03D15: the file before (nullptr: none), the call, its result, the file
// after, and whether the Calendar folder is marked changed. Each rewrite keeps the file before as
// the backup and leaves neither copy nor blocking file. An edit gives every matching line the
// times and id of the new record, whose mailbox and period are not read.
struct Change {
    const char* before;
    char call;  // 'a'dd, 'r'emove, 'e'dit
    const char* id;
    int32_t start, finish;
    int32_t result;
    const char* after;
    bool marked;
};

const Change kChanges[] = {
    {nullptr, 'a', "abc", 1236938400, 1236942000, 1, "1236938400\t1236942000\tabc", true},
    {"1\t2\ta\r\n3\t4\tb", 'a', "c", -5, 6, 1, "1\t2\ta\r\n3\t4\tb\r\n-5\t6\tc", false},
    // A duplicate id, in any case, is refused, but the file is still normalised.
    {"1\t2\tABC\r\n\r\n 3\t+4\tdef\n", 'a', "abc", 7, 8, 0, "1\t2\tABC\r\n3\t4\tdef", false},
    {"5\t6\tx", 'a', "", 1, 2, 0, "5\t6\tx", false},  // an empty id matches every line
    {"1\t2\tonly", 'r', "ONLY", 0, 0, 1, nullptr, true},
    {"1\t1\ta\r\n2\t2\tb\r\n3\t3\tA\r\n4\t4\tc", 'r', "a", 0, 0, 1, "2\t2\tb\r\n4\t4\tc", true},
    {"1\t1\ta\r\n\r\n", 'r', "zzz", 0, 0, 0, "1\t1\ta", true},
    {"1\t1\ta\r\n2\t2\tb", 'r', "", 0, 0, 1, nullptr, true},
    {nullptr, 'r', "a", 0, 0, 0, nullptr, false},
    {"1\t1\ta\r\n2\t2\tb\r\n3\t3\tA", 'e', "a", 10, 20, 1, "10\t20\tn\r\n2\t2\tb\r\n10\t20\tn",
     true},
    {"01\t2\tb\n", 'e', "zzz", 10, 20, 1, "1\t2\tb", true},  // no match: only normalised
    {nullptr, 'e', "a", 10, 20, 0, nullptr, false},
};

TEST_F(AppointmentsTest, ChangesRewriteThePeriodFile) {
    MakeCalendar();
    for (const Change& c : kChanges) {
        SCOPED_TRACE(std::string(1, c.call) + " " + c.id + " in " + (c.before ? c.before : "-"));
        for (const char* name : {"Y09M03D15.CAL", "Y09M03D15.BAK", "_CHANGE.DTY"}) {
            RemoveFile(PathOf(name).c_str());
        }
        if (c.before != nullptr) Put("Y09M03D15.CAL", c.before);
        AppointmentRequest request = MakeRequest(c.id, c.start, c.finish);
        AppointmentRequest edited = MakeRequest("n", c.start, c.finish, "Y09M04", "elsewhere");
        EXPECT_EQ(c.result, c.call == 'a'   ? AppointmentAdd(&request)
                            : c.call == 'r' ? AppointmentRemove(&request)
                                            : AppointmentEdit(&request, &edited));
        EXPECT_EQ(c.after != nullptr, Exists("Y09M03D15.CAL"));
        EXPECT_EQ(c.after ? c.after : "", Contents("Y09M03D15.CAL"));
        EXPECT_EQ(c.before != nullptr, Exists("Y09M03D15.BAK"));
        EXPECT_EQ(c.before ? c.before : "", Contents("Y09M03D15.BAK"));
        EXPECT_EQ(c.marked ? "This file has been written to denote configuration change\r\n" : "",
                  Contents("_CHANGE.DTY"));
        for (const char* left : {"Y09M03D15.TMP", "Y09M03D15.BLK", "Y09M04.CAL"}) {
            EXPECT_FALSE(Exists(left)) << left;
        }
    }
}

TEST_F(AppointmentsTest, GetFindsTheLastMatchingLineInTheFilesLetterCase) {
    const std::string long_line = "1\t2\t" + std::string(100, 'L') + "\r\n9\r\n7\t8";
    struct {
        const char* file;  // nullptr: none
        const char* id;
        int32_t result;
        std::string got;  // the record after the call
        int32_t start, finish;
    } cases[] = {
        {"1\t2\tABC\r\n3\t4\tother\r\n5\t6\tABC", "abc", 1, "ABC", 5, 6},
        // An empty id takes the first line, then later lines with its id.
        {"1\t2\tfirst\r\n3\t4\tsecond\r\n5\t6\tFIRST", "", 1, "FIRST", 5, 6},
        {"1\t2\ta", "b", 0, "b", 77, 88},  // misses leave the record alone
        {nullptr, "a", 0, "a", 77, 88},
        {long_line.c_str(), "", 1, std::string(63, 'L'), 1, 2},
        {"9", "", 1, "", 9, 0},
    };
    MakeCalendar();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        RemoveFile(PathOf("Y09M03D15.CAL").c_str());
        if (c.file != nullptr) Put("Y09M03D15.CAL", c.file);
        AppointmentRequest request = MakeRequest(c.id, 77, 88);
        EXPECT_EQ(c.result, AppointmentGet(&request));
        EXPECT_EQ(c.got, request.ItemId);
        EXPECT_EQ(c.start, request.StartTime);
        EXPECT_EQ(c.finish, request.FinishTime);
    }
}

TEST_F(AppointmentsTest, CallsMakeTheCalendarFolderOfAnExistingMailboxOnly) {
    AppointmentRequest request = MakeRequest("a");
    EXPECT_EQ(0, AppointmentGet(&request));
    EXPECT_TRUE(testing::PathExists(calendar_));
    AppointmentRequest nobody = MakeRequest("x", 1, 2, "Y", "nobody");
    EXPECT_EQ(0, AppointmentAdd(&nobody));
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\example\\MAILROOT\\nobody"));
}

TEST_F(AppointmentsTest, ThreadsAddingToOnePeriodLoseNoLine) {
    // Real waits: with waits of 0 a writer that waits a second takes the period over from one
    // that is merely slow, as it would from a dead one.
    store_.registry().SetWaits(80);
    constexpr int kThreads = 4, kEach = 15;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                AppointmentRequest request =
                    MakeRequest("t" + std::to_string(t) + "-" + std::to_string(i), i, i + 1);
                if (AppointmentAdd(&request) != 1) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures);
    std::string content = Contents("Y09M03D15.CAL") + "\r\n";
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kEach; ++i) {
            std::string id = "t" + std::to_string(t) + "-" + std::to_string(i);
            EXPECT_NE(std::string::npos, content.find("\t" + id + "\r\n")) << id;
        }
    }
    EXPECT_EQ(kThreads * kEach, std::count(content.begin(), content.end(), '\n'));
}

// The provider works on files of another case as on its own, and never makes a second file
// beside one.
TEST_F(AppointmentsTest, EveryKindOfStoreFileIsFoundUnderAnotherCase) {
    // Every entry of the Calendar folder by its upper-case name: how many there are of each.
    auto entries = [this] {
        std::map<std::string, int> names;
        DirectorySearch search;
        FindData entry;
        for (bool found = search.First(PathOf("*").c_str(), &entry); found;
             found = search.Next(&entry)) {
            for (char& c : entry.name) c = static_cast<char>(std::toupper(c));
            if (entry.name != "." && entry.name != "..") ++names[entry.name];
        }
        return names;
    };
    Put("y09m03d15.cal", "1\t2\ta");
    Put("y09m03d15.bak", "old");
    Put("y09m03d15.tmp", "left by a crash");
    Put("y09m03d15.blk", "");  // a writer that died: broken after the (zero) wait
    Put("_change.dty", "x");
    Put("A", "Subject: one\r\n\r\nbody");

    AppointmentRequest get = MakeRequest("a", 0, 0);
    EXPECT_EQ(1, AppointmentGet(&get));
    EXPECT_EQ(2, get.FinishTime);
    AppointmentRequest b = MakeRequest("b", 3, 4);
    EXPECT_EQ(1, AppointmentAdd(&b));
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.BAK"));

    AppointmentItemRequest item = testing::MakeItemRequest("a");
    EXPECT_EQ(1, AppointmentItemGetFirstChunk(&item));
    EXPECT_EQ("Subject: one\r\n\r\nbody", std::string(item.Data, item.DataLength));
    item = testing::MakeItemRequest("a", "Subject: two\r\n\r\n");
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&item));
    EXPECT_EQ("Subject: two\r\n\r\n", Contents("A"));

    const std::map<std::string, int> expected{
        {"A", 1}, {"Y09M03D15.BAK", 1}, {"Y09M03D15.CAL", 1}, {"_CHANGE.DTY", 1}};
    EXPECT_EQ(expected, entries());

    // The last removal deletes the period file, under whatever case it is held.
    for (const char* id : {"a", "b"}) {
        AppointmentRequest remove = MakeRequest(id, 0, 0);
        EXPECT_EQ(1, AppointmentRemove(&remove)) << id;
    }
    EXPECT_EQ(0u, entries().count("Y09M03D15.CAL"));
    EXPECT_EQ(1, entries()["_CHANGE.DTY"]);
}

}  // namespace
}  // namespace cv
