// Adding, removing, editing and reading appointments: the bytes on disk and the results.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "include/cvaicp.h"
#include "tests/provider/appointment_fixture.h"
#include "common/host_platform.h"

namespace cv {
namespace {

using testing::MakeRequest;

class AddTest : public testing::AppointmentTest {};

TEST_F(AddTest, FirstAppointmentCreatesTheFileWithOneLineAndTheDirtyMarker) {
    AppointmentRequest request = MakeRequest("abc", 1236938400, 1236942000);
    EXPECT_EQ(1, AppointmentAdd(&request));
    EXPECT_EQ("1236938400\t1236942000\tabc", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("This file has been written to denote configuration change\r\n",
              Contents("_CHANGE.DTY"));
    EXPECT_FALSE(Exists("Y09M03D15.BAK"));
    EXPECT_FALSE(Exists("Y09M03D15.TMP"));
    EXPECT_FALSE(Exists("Y09M03D15.BLK"));
}

TEST_F(AddTest, FurtherAppointmentsAreJoinedByCrLfWithABackupAndNoMarker) {
    AppointmentRequest a = MakeRequest("a", 1, 2), b = MakeRequest("b", 3, 4),
                       c = MakeRequest("c", -5, 6);
    ASSERT_EQ(1, AppointmentAdd(&a));
    testing::WriteFileBytes(PathOf("_CHANGE.DTY"), "");
    ASSERT_TRUE(RemoveFile(PathOf("_CHANGE.DTY").c_str()));
    EXPECT_EQ(1, AppointmentAdd(&b));
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.BAK"));
    EXPECT_EQ(1, AppointmentAdd(&c));
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb\r\n-5\t6\tc", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb", Contents("Y09M03D15.BAK"));
    EXPECT_FALSE(Exists("_CHANGE.DTY"));
}

TEST_F(AddTest, DuplicateIdInAnyCaseIsRefusedButTheFileIsStillNormalised) {
    Put("Y09M03D15.CAL", "1\t2\tABC\r\n\r\n 3\t+4\tdef\n");
    AppointmentRequest again = MakeRequest("abc", 7, 8);
    EXPECT_EQ(0, AppointmentAdd(&again));
    EXPECT_EQ("1\t2\tABC\r\n3\t4\tdef", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("1\t2\tABC\r\n\r\n 3\t+4\tdef\n", Contents("Y09M03D15.BAK"));
}

TEST_F(AddTest, EmptyIdMatchesEveryLine) {
    AppointmentRequest empty = MakeRequest("", 1, 2);
    EXPECT_EQ(1, AppointmentAdd(&empty));  // nothing to match in a new file
    EXPECT_EQ("1\t2\t", Contents("Y09M03D15.CAL"));
    EXPECT_EQ(0, AppointmentAdd(&empty));
    EXPECT_EQ("1\t2\t", Contents("Y09M03D15.CAL"));
}

TEST_F(AddTest, CreatesTheCalendarFolderOfAnExistingMailbox) {
    ASSERT_FALSE(testing::PathExists(calendar_));
    AppointmentRequest request = MakeRequest("x");
    EXPECT_EQ(1, AppointmentAdd(&request));
    EXPECT_TRUE(Exists("Y09M03D15.CAL"));
}

TEST_F(AddTest, MissingMailboxFailsWithoutCreatingIt) {
    AppointmentRequest request = MakeRequest("x", 1, 2, "Y", "nobody");
    EXPECT_EQ(0, AppointmentAdd(&request));
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\example\\MAILROOT\\nobody"));
}

TEST_F(AddTest, ThreadsAddingToOnePeriodLoseNoLine) {
    // Real waits: with waits of 0 a writer that waits a second takes the period over from one
    // that is merely slow, as it would from a dead one.
    store_.registry().SetWaits(80);
    constexpr int kThreads = 4, kEach = 15;
    std::vector<std::thread> threads;
    int failures = 0;
    std::mutex guard;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string id = "t" + std::to_string(t) + "-" + std::to_string(i);
                AppointmentRequest request = MakeRequest(id.c_str(), i, i + 1);
                if (AppointmentAdd(&request) != 1) {
                    std::lock_guard<std::mutex> hold(guard);
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures);
    std::string content = Contents("Y09M03D15.CAL");
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kEach; ++i) {
            std::string id = "t" + std::to_string(t) + "-" + std::to_string(i);
            EXPECT_NE(std::string::npos, content.find("\t" + id)) << id;
        }
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * kEach - 1),
              static_cast<size_t>(std::count(content.begin(), content.end(), '\n')));
}

TEST_F(AddTest, ProcessesAddingToOnePeriodLoseNoLine) {
    store_.registry().SetWaits(80);
    constexpr int kProcesses = 4;
    constexpr int kEach = 25;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(children.back()->Start(
            {testing::SiblingExecutable("appointment_driver"), testing::ProviderLibraryPath(),
             "example", "anna", "Y09M03", "p" + std::to_string(p), std::to_string(kEach)}));
    }
    for (auto& child : children) EXPECT_EQ(0, child->Wait());
    std::string content = Contents("Y09M03.CAL") + "\r\n";
    for (int p = 0; p < kProcesses; ++p) {
        for (int i = 0; i < kEach; ++i) {
            std::string id = "p" + std::to_string(p) + "-" + std::to_string(i);
            EXPECT_NE(std::string::npos, content.find("\t" + id + "\r\n")) << id;
        }
    }
}

class RemoveTest : public testing::AppointmentTest {};

TEST_F(RemoveTest, RemovingTheOnlyAppointmentDeletesThePeriodFile) {
    AppointmentRequest request = MakeRequest("only", 1, 2);
    ASSERT_EQ(1, AppointmentAdd(&request));
    RemoveFile(PathOf("_CHANGE.DTY").c_str());
    AppointmentRequest remove = MakeRequest("ONLY");
    EXPECT_EQ(1, AppointmentRemove(&remove));
    EXPECT_FALSE(Exists("Y09M03D15.CAL"));
    EXPECT_EQ("1\t2\tonly", Contents("Y09M03D15.BAK"));
    EXPECT_TRUE(Exists("_CHANGE.DTY"));
    EXPECT_FALSE(Exists("Y09M03D15.TMP"));
    EXPECT_FALSE(Exists("Y09M03D15.BLK"));
    // The next addition starts a new file.
    AppointmentRequest next = MakeRequest("next", 3, 4);
    EXPECT_EQ(1, AppointmentAdd(&next));
    EXPECT_EQ("3\t4\tnext", Contents("Y09M03D15.CAL"));
}

TEST_F(RemoveTest, RemovesEveryLineWithTheIdAndKeepsTheOthersInOrder) {
    Put("Y09M03D15.CAL", "1\t1\ta\r\n2\t2\tb\r\n3\t3\tA\r\n4\t4\tc");
    AppointmentRequest remove = MakeRequest("a");
    EXPECT_EQ(1, AppointmentRemove(&remove));
    EXPECT_EQ("2\t2\tb\r\n4\t4\tc", Contents("Y09M03D15.CAL"));
}

TEST_F(RemoveTest, AbsentIdAnswersZeroButRewritesAndMarks) {
    Put("Y09M03D15.CAL", "1\t1\ta\r\n\r\n");
    AppointmentRequest remove = MakeRequest("zzz");
    EXPECT_EQ(0, AppointmentRemove(&remove));
    EXPECT_EQ("1\t1\ta", Contents("Y09M03D15.CAL"));
    EXPECT_TRUE(Exists("_CHANGE.DTY"));
    AppointmentRequest missing = MakeRequest("a", 0, 0, "Y09M04");
    EXPECT_EQ(0, AppointmentRemove(&missing));
}

TEST_F(RemoveTest, EmptyIdRemovesEverything) {
    Put("Y09M03D15.CAL", "1\t1\ta\r\n2\t2\tb");
    AppointmentRequest remove = MakeRequest("");
    EXPECT_EQ(1, AppointmentRemove(&remove));
    EXPECT_FALSE(Exists("Y09M03D15.CAL"));
}

class EditTest : public testing::AppointmentTest {};

TEST_F(EditTest, ReplacesEveryMatchInPlaceAndMarks) {
    Put("Y09M03D15.CAL", "1\t1\ta\r\n2\t2\tb\r\n3\t3\tA");
    AppointmentRequest old_request = MakeRequest("a");
    AppointmentRequest new_request = MakeRequest("n", 10, 20, "Y09M04", "elsewhere", "other");
    EXPECT_EQ(1, AppointmentEdit(&old_request, &new_request));
    // The new record's mailbox and period are not read: the lines stay in the old file.
    EXPECT_EQ("10\t20\tn\r\n2\t2\tb\r\n10\t20\tn", Contents("Y09M03D15.CAL"));
    EXPECT_EQ("1\t1\ta\r\n2\t2\tb\r\n3\t3\tA", Contents("Y09M03D15.BAK"));
    EXPECT_TRUE(Exists("_CHANGE.DTY"));
    EXPECT_FALSE(Exists("Y09M04.CAL"));
}

TEST_F(EditTest, AbsentIdStillAnswersOneAndOnlyNormalises) {
    Put("Y09M03D15.CAL", "01\t2\tb\n");
    AppointmentRequest old_request = MakeRequest("zzz"), new_request = MakeRequest("n", 5, 6);
    EXPECT_EQ(1, AppointmentEdit(&old_request, &new_request));
    EXPECT_EQ("1\t2\tb", Contents("Y09M03D15.CAL"));
}

TEST_F(EditTest, MissingPeriodFileAnswersZero) {
    MakeCalendar();
    AppointmentRequest old_request = MakeRequest("a"), new_request = MakeRequest("n");
    EXPECT_EQ(0, AppointmentEdit(&old_request, &new_request));
    EXPECT_FALSE(Exists("Y09M03D15.CAL"));
}

class GetTest : public testing::AppointmentTest {};

TEST_F(GetTest, LastMatchingLineWinsAndGivesTheFilesLetterCase) {
    Put("Y09M03D15.CAL", "1\t2\tABC\r\n3\t4\tother\r\n5\t6\tABC");
    AppointmentRequest request = MakeRequest("abc", 0, 0);
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_STREQ("ABC", request.ItemId);
    EXPECT_EQ(5, request.StartTime);
    EXPECT_EQ(6, request.FinishTime);
}

TEST_F(GetTest, EmptyIdTakesTheFirstLineAndLaterLinesWithItsId) {
    Put("Y09M03D15.CAL", "1\t2\tfirst\r\n3\t4\tsecond\r\n5\t6\tFIRST");
    AppointmentRequest request = MakeRequest("", 0, 0);
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_STREQ("FIRST", request.ItemId);
    EXPECT_EQ(5, request.StartTime);
}

TEST_F(GetTest, MissesLeaveTheRecordAlone) {
    Put("Y09M03D15.CAL", "1\t2\ta");
    AppointmentRequest request = MakeRequest("b", 77, 88);
    EXPECT_EQ(0, AppointmentGet(&request));
    EXPECT_STREQ("b", request.ItemId);
    EXPECT_EQ(77, request.StartTime);
    AppointmentRequest other_period = MakeRequest("a", 77, 88, "Y09M04");
    EXPECT_EQ(0, AppointmentGet(&other_period));
}

TEST_F(GetTest, AMailboxWithoutCalendarFolderGetsOneAsFromEveryOperation) {
    ASSERT_FALSE(testing::PathExists(calendar_));
    AppointmentRequest request = MakeRequest("a");
    EXPECT_EQ(0, AppointmentGet(&request));
    EXPECT_TRUE(testing::PathExists(calendar_));
}

TEST_F(GetTest, OverlongIdsAndShortLinesAreReadSafely) {
    std::string long_id(100, 'L');
    Put("Y09M03D15.CAL", "1\t2\t" + long_id + "\r\n9\r\n7\t8");
    AppointmentRequest request = MakeRequest("", 0, 0);
    EXPECT_EQ(1, AppointmentGet(&request));
    EXPECT_EQ(std::string(63, 'L'), request.ItemId);  // cut to its field
    AppointmentRequest short_line = MakeRequest("", 0, 0, "Y09M03D15");
    Put("Y09M03D15.CAL", "9");
    EXPECT_EQ(1, AppointmentGet(&short_line));
    EXPECT_EQ(9, short_line.StartTime);
    EXPECT_EQ(0, short_line.FinishTime);
    EXPECT_STREQ("", short_line.ItemId);
}

// Records that try to reach outside the mailbox, or to forge lines, touch nothing.
class HostileRecordTest : public testing::AppointmentTest {
  protected:
    void ExpectRefusedEverywhere(AppointmentRequest request) {
        AppointmentRequest copy = request;
        AppointmentRequest other = MakeRequest("n");
        EXPECT_EQ(0, AppointmentAdd(&copy));
        EXPECT_EQ(0, AppointmentRemove(&copy));
        EXPECT_EQ(0, AppointmentEdit(&copy, &other));
        EXPECT_EQ(0, AppointmentGet(&copy));
        EXPECT_EQ(0, AppointmentFindFirst(&copy));
        EXPECT_EQ(0, AppointmentFindNext(&copy));
    }
};

TEST_F(HostileRecordTest, NamesMustBeSinglePathComponents) {
    Put("Y09M03D15.CAL", "1\t2\ta");
    for (const char* bad : {"..", ".", "..\\..", "a\\b", "a/b", "C:", ""}) {
        SCOPED_TRACE(bad);
        ExpectRefusedEverywhere(MakeRequest("a", 1, 2, "Y09M03D15", bad));
        ExpectRefusedEverywhere(MakeRequest("a", 1, 2, "Y09M03D15", "anna", bad));
        ExpectRefusedEverywhere(MakeRequest("a", 1, 2, bad));
    }
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\example\\Calendar"));
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\Calendar"));
    EXPECT_FALSE(testing::PathExists(calendar_ + "\\..\\b"));
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.CAL"));
}

TEST_F(HostileRecordTest, FieldsWithoutTheirNulAreRefused) {
    Put("Y09M03D15.CAL", "1\t2\ta");
    AppointmentRequest mailbox = MakeRequest("a");
    std::memset(mailbox.Mailbox, 'm', sizeof mailbox.Mailbox);
    ExpectRefusedEverywhere(mailbox);
    AppointmentRequest period = MakeRequest("a");
    std::memset(period.PeriodName, 'p', sizeof period.PeriodName);
    ExpectRefusedEverywhere(period);
    AppointmentRequest id = MakeRequest("a");
    std::memset(id.ItemId, 'i', sizeof id.ItemId);
    ExpectRefusedEverywhere(id);
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.CAL"));
}

TEST_F(HostileRecordTest, IdsCannotForgeFieldsOrLines) {
    Put("Y09M03D15.CAL", "1\t2\ta");
    for (const char* bad : {"x\ty", "x\r\n5\t6\tforged", "x\ny", "x\r"}) {
        SCOPED_TRACE(bad);
        AppointmentRequest add = MakeRequest(bad, 3, 4);
        EXPECT_EQ(0, AppointmentAdd(&add));
        AppointmentRequest old_request = MakeRequest("a"), new_request = MakeRequest(bad, 3, 4);
        EXPECT_EQ(0, AppointmentEdit(&old_request, &new_request));
    }
    EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.CAL"));
}

TEST_F(HostileRecordTest, NullRecordsAreRefused) {
    AppointmentRequest request = MakeRequest("a");
    EXPECT_EQ(0, AppointmentAdd(nullptr));
    EXPECT_EQ(0, AppointmentRemove(nullptr));
    EXPECT_EQ(0, AppointmentEdit(&request, nullptr));
    EXPECT_EQ(0, AppointmentEdit(nullptr, &request));
    EXPECT_EQ(0, AppointmentGet(nullptr));
    EXPECT_EQ(0, AppointmentFindFirst(nullptr));
    EXPECT_EQ(0, AppointmentFindNext(nullptr));
}

}  // namespace
}  // namespace cv
