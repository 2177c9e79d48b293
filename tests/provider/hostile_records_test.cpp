// Records that try to reach outside their mailbox's Calendar folder, or to forge lines, through
// every export that takes a name: each is refused with the answer its export gives, and nothing in
// the store or beside it is read, written or made.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "include/cvaicp.h"
#include "platform/registry.h"
#include "provider/module_hooks.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeRequest;

// Names that are not one path component of their own; nullptr fills the field without its NUL.
const std::initializer_list<const char*> kBadNames = {
    "..", ".", "..\\..", "a\\b", "a/b", "C:", "C:x", "*", "it?m", "", nullptr};

// Calls check(record) for the record with each bad text in the field.
template <typename Record, size_t N, typename Check>
void ForEachSpoiled(const Record& good, char (Record::*field)[N],
                    std::initializer_list<const char*> bad_texts, Check check) {
    for (const char* bad : bad_texts) {
        SCOPED_TRACE(bad ? bad : "without NUL");
        Record record = good;
        std::memset(record.*field, bad != nullptr ? '\0' : 'x', N);
        if (bad != nullptr) std::memcpy(record.*field, bad, std::strlen(bad));
        check(record);
    }
}

class HostileRecordTest : public testing::AppointmentTest {
  protected:
    HostileRecordTest() : outside_(store_.root() + "\\example\\MAILROOT\\anna\\outside") {
        Put("Y09M03D15.CAL", "1\t2\ta");
        Put("item", "secret");
        testing::WriteFileBytes(outside_, "outside");
    }
    void TearDown() override {
        EXPECT_EQ("1\t2\ta", Contents("Y09M03D15.CAL"));
        EXPECT_EQ("secret", Contents("item"));
        EXPECT_EQ("outside", testing::ReadFileOrEmpty(outside_));
        for (const std::string& made :
             {store_.root() + "\\example\\Calendar", store_.root() + "\\Calendar",
              store_.root() + "\\MAILROOT", calendar_ + "\\..\\b", calendar_ + "\\a",
              calendar_ + "\\Y09M03D15.BLK", calendar_ + "\\_CHANGE.DTY"}) {
            EXPECT_FALSE(testing::PathExists(made)) << made;
        }
    }
    std::string outside_;
};

TEST_F(HostileRecordTest, AppointmentNamesMustBeSinglePathComponents) {
    auto refused = [](AppointmentRequest request) {
        AppointmentRequest other = MakeRequest("a");
        EXPECT_EQ(0, AppointmentAdd(&request) | AppointmentRemove(&request) |
                         AppointmentEdit(&request, &other) | AppointmentGet(&request) |
                         AppointmentFindFirst(&request) | AppointmentFindNext(&request));
    };
    const AppointmentRequest good = MakeRequest("a", 1, 2);
    ForEachSpoiled(good, &AppointmentRequest::Postoffice, kBadNames, refused);
    ForEachSpoiled(good, &AppointmentRequest::Mailbox, kBadNames, refused);
    ForEachSpoiled(good, &AppointmentRequest::PeriodName, kBadNames, refused);
    // Names too long for a path, together, reach nothing either.
    refused(MakeRequest("a", 1, 2, "Y09M03D15", std::string(255, 'm'), std::string(255, 'p')));
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\" + std::string(255, 'p')));
}

TEST_F(HostileRecordTest, IdsCannotForgeFieldsOrLines) {
    ForEachSpoiled(MakeRequest("", 3, 4), &AppointmentRequest::ItemId,
                   {"x\ty", "x\r\n5\t6\tforged", "x\ny", "x\r", nullptr},
                   [](AppointmentRequest request) {
                       AppointmentRequest old_request = MakeRequest("a");
                       EXPECT_EQ(0, AppointmentAdd(&request));
                       EXPECT_EQ(0, AppointmentEdit(&old_request, &request));
                   });
}

// Reads find nothing (a size of 0); writes and deletes answer 1, as they answer for any name.
TEST_F(HostileRecordTest, ItemNamesMustBeSinglePathComponents) {
    auto refused = [](AppointmentItemRequest request) {
        EXPECT_EQ(0,
                  AppointmentItemGetFirstChunk(&request) | AppointmentItemGetNextChunk(&request));
        request.DataLength = 5;
        EXPECT_EQ(0, AppointmentItemGetSize(&request));
        EXPECT_EQ(0, request.DataLength);
        EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&request) &
                         AppointmentItemWriteNextChunk(&request) & AppointmentItemDelete(&request));
    };
    const AppointmentItemRequest good = testing::MakeItemRequest("item", "overwritten");
    ForEachSpoiled(good, &AppointmentItemRequest::Postoffice, kBadNames, refused);
    ForEachSpoiled(good, &AppointmentItemRequest::Mailbox, kBadNames, refused);
    ForEachSpoiled(good, &AppointmentItemRequest::ItemFileName, kBadNames, refused);
}

// Free/busy answers 1 with an empty list and the length left alone. A prefix need not be a whole
// name, but may not leave the folder.
TEST_F(HostileRecordTest, FreeBusyNamesAndPrefixesStayInTheFolder) {
    auto refused = [](FreeBusyRequest request) {
        EXPECT_EQ(1, GetFreeBusyData(&request));
        EXPECT_STREQ("", request.BusyDays);
        EXPECT_EQ(-7, request.BusyDaysLength);
    };
    FreeBusyRequest good = testing::MakeFreeBusyRequest("Y09M03");
    std::strcpy(good.BusyDays, "stale");
    good.BusyDaysLength = -7;
    ForEachSpoiled(good, &FreeBusyRequest::Postoffice, kBadNames, refused);
    ForEachSpoiled(good, &FreeBusyRequest::Mailbox, kBadNames, refused);
    ForEachSpoiled(good, &FreeBusyRequest::NamePrefix, {"..\\", "../Y", "C:", "Y09\\..", nullptr},
                   refused);
}

// Only "." and ".." are refused for their dots: other names with dots are names like any.
TEST_F(HostileRecordTest, DottedNamesAreNamesLikeAny) {
    for (const char* name : {"a.b", ".x", "..x"}) {
        AppointmentItemRequest write = testing::MakeItemRequest(name, name);
        EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&write));
        EXPECT_EQ(name, Contents(name));
        EXPECT_EQ(1, AppointmentItemDelete(&write));
        EXPECT_FALSE(Exists(name));
    }
}

// Null records are refused, but by the item writes and free/busy, which answer 1 whatever happens.
TEST_F(HostileRecordTest, NullRecordsAreRefused) {
    AppointmentRequest request = MakeRequest("a");
    std::string results;
    for (int32_t result :
         {AppointmentAdd(nullptr), AppointmentRemove(nullptr), AppointmentEdit(&request, nullptr),
          AppointmentEdit(nullptr, &request), AppointmentGet(nullptr),
          AppointmentFindFirst(nullptr), AppointmentFindNext(nullptr),
          AppointmentItemGetFirstChunk(nullptr), AppointmentItemGetNextChunk(nullptr),
          AppointmentItemGetSize(nullptr), AppointmentItemWriteFirstChunk(nullptr),
          AppointmentItemWriteNextChunk(nullptr), AppointmentItemDelete(nullptr),
          GetFreeBusyData(nullptr)}) {
        results += std::to_string(result);
    }
    EXPECT_EQ("00000000001111", results);
}

// A mail root so deep that the Calendar folder's path fits but its period files' paths do not:
// the change is refused before anything is made, rather than made under a cut-short name.
TEST(LongPathTest, PeriodFilesWhosePathsDoNotFitAreRefused) {
    testing::TestStore store;
    std::string root = store.root();
    while (root.size() < 540) {
        root += "\\" + std::string(50, 'r');
        if (!MakeDirectory(root.c_str())) GTEST_SKIP() << "the system refuses paths this long";
    }
    store.registry().SetString(Hive::kLocalMachine, kStoreKey, "Mail Root", root);
    OnProcessDetach();
    OnProcessAttach();
    const std::string postoffice(200, 'p'), mailbox(200, 'm');
    std::string folder = root;
    for (const std::string& name : {postoffice, std::string("MAILROOT"), mailbox}) {
        ASSERT_TRUE(MakeDirectory((folder += "\\" + name).c_str()));
    }
    AppointmentRequest request = MakeRequest("a", 1, 2, std::string(60, 'Y'), mailbox, postoffice);
    EXPECT_EQ(0, AppointmentAdd(&request));
    EXPECT_FALSE(testing::PathExists(folder + "\\Calendar"));
    OnProcessDetach();
}

}  // namespace
}  // namespace cv
