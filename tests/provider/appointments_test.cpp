// Adding, removing, editing and reading appointments: the bytes on disk and the results, also in
// a Calendar folder whose files another tool wrote under other letter cases; and the mail root
// that the module reads when it is loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "include/cvaicp.h"
#include "provider/module_hooks.h"
#include "store/store_state.h"
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

const std::string kMarker = "This file has been written to denote configuration change\r\n";

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
    // The backup is made anew, or an older one replaced.
    for (const bool older_backup : {false, true}) {
        for (const Change& c : kChanges) {
            SCOPED_TRACE(std::string(1, c.call) + " " + c.id + " in " +
                         (c.before ? c.before : "-") +
                         (older_backup ? " over an older backup" : ""));
            for (const char* name : {"Y09M03D15.CAL", "Y09M03D15.BAK", "_CHANGE.DTY"}) {
                RemoveFile(PathOf(name).c_str());
            }
            if (c.before != nullptr) Put("Y09M03D15.CAL", c.before);
            if (older_backup) Put("Y09M03D15.BAK", "older, and longer than any content before");
            AppointmentRequest request = MakeRequest(c.id, c.start, c.finish);
            AppointmentRequest edited = MakeRequest("n", c.start, c.finish, "Y09M04", "elsewhere");
            EXPECT_EQ(c.result, c.call == 'a'   ? AppointmentAdd(&request)
                                : c.call == 'r' ? AppointmentRemove(&request)
                                                : AppointmentEdit(&request, &edited));
            EXPECT_EQ(c.after != nullptr, Exists("Y09M03D15.CAL"));
            EXPECT_EQ(c.after ? c.after : "", Contents("Y09M03D15.CAL"));
            EXPECT_EQ(c.before != nullptr || older_backup, Exists("Y09M03D15.BAK"));
            EXPECT_EQ(c.before       ? c.before
                      : older_backup ? "older, and longer than any content before"
                                     : "",
                      Contents("Y09M03D15.BAK"));
            EXPECT_EQ(c.marked ? kMarker : "", Contents("_CHANGE.DTY"));
            for (const char* left : {"Y09M03D15.TMP", "Y09M03D15.BLK", "Y09M04.CAL"}) {
                EXPECT_FALSE(Exists(left)) << left;
            }
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
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                AppointmentRequest request = MakeRequest(std::to_string(t * 100 + i), i, i + 1);
                failures += AppointmentAdd(&request) != 1;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures);
    std::string content = Contents("Y09M03D15.CAL") + "\r\n";
    for (int id = 0; id < 400; ++id) {
        if (id % 100 >= 15) continue;
        EXPECT_NE(std::string::npos, content.find("\t" + std::to_string(id) + "\r\n")) << id;
    }
    EXPECT_EQ(60, std::count(content.begin(), content.end(), '\n'));
}

// The provider works on files of another case as on its own, and never makes a second file
// beside one; the last removal deletes the period file under whatever case it is held.
TEST_F(AppointmentsTest, EveryKindOfStoreFileIsFoundUnderAnotherCase) {
    // Every entry of the Calendar folder by its upper-case name, sorted.
    auto entries = [this] {
        std::vector<std::string> names;
        DirectorySearch search;
        FindData entry;
        for (bool found = search.First(PathOf("*").c_str(), &entry); found;
             found = search.Next(&entry)) {
            for (char& c : entry.name) c = static_cast<char>(std::toupper(c));
            if (entry.name != "." && entry.name != "..") names.push_back(entry.name);
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    // The blocking file is a dead writer's, broken after the (zero) wait; a removal leaves the
    // marker holding its one line whatever it held before.
    const std::pair<const char*, std::string> files[] = {
        {"y09m03d15.cal", "1\t2\ta"},   {"y09m03d15.bak", "old"},
        {"y09m03d15.tmp", "crash"},     {"y09m03d15.blk", ""},
        {"_change.dty", kMarker + "x"}, {"A", "Subject: one\r\n\r\nbody"}};
    for (const auto& file : files) Put(file.first, file.second);
    AppointmentRequest a = MakeRequest("a", 0, 0), b = MakeRequest("b", 3, 4);
    EXPECT_EQ(1, AppointmentGet(&a));
    EXPECT_EQ(2, a.FinishTime);
    EXPECT_EQ(1, AppointmentAdd(&b));
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.BAK"));
    AppointmentItemRequest item = testing::MakeItemRequest("a");
    EXPECT_EQ(1, AppointmentItemGetFirstChunk(&item));
    EXPECT_EQ("Subject: one\r\n\r\nbody", std::string(item.Data, item.DataLength));
    item = testing::MakeItemRequest("a", "two");
    EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&item));
    EXPECT_EQ("two", Contents("A"));
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"A", "Y09M03D15.BAK", "Y09M03D15.CAL", "_CHANGE.DTY"}), entries());
    EXPECT_EQ(1, AppointmentRemove(&a));
    EXPECT_EQ(1, AppointmentRemove(&b));
    EXPECT_EQ((V{"A", "Y09M03D15.BAK", "_CHANGE.DTY"}), entries());
    EXPECT_EQ(kMarker, Contents("_CHANGE.DTY"));
}

// "Mail Root" wins; without it "Data Directory" gives its Postoffices folder; without either the
// root is empty. An empty text (its NUL alone) is a value that was read, and still wins.
TEST(MailRootTest, ComesFromMailRootElseDataDirectory) {
    const char* const cases[][3] = {
        // "Mail Root", "Data Directory" (nullptr: no such value), the root
        {"E:\\Mail", "D:\\Store", "E:\\Mail"},
        {nullptr, "D:\\Store", "D:\\Store\\Postoffices"},
        {nullptr, nullptr, ""},
        {"", "D:\\Store", ""}};
    testing::TestRegistry registry;
    for (const auto& c : cases) {
        for (int i = 0; i < 2; ++i) {
            const char* name = i == 0 ? "Mail Root" : "Data Directory";
            c[i] ? registry.SetString(Hive::kLocalMachine, kStoreKey, name, c[i])
                 : registry.Delete(Hive::kLocalMachine, kStoreKey, name);
        }
        OnProcessDetach();
        OnProcessAttach();
        EXPECT_STREQ(c[2], MailRoot());
    }
    OnProcessDetach();
}

}  // namespace
}  // namespace cv
