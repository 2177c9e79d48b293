// Item bodies written with each file operation failing in turn. The writes answer 1 whatever
// happens, so the body on disk is all a caller has: it must be the one before the write or the
// one after it, never an emptied or a half-written one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/platform.h"
#include "include/cvaicp.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

constexpr char kItem[] = "item-7f3a";

AppointmentItemRequest Chunk(const std::string& data) {
    AppointmentItemRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, "example");
    std::strcpy(request.Mailbox, "anna");
    std::strcpy(request.ItemFileName, kItem);
    std::memcpy(request.Data, data.data(), data.size());
    return request;
}

class ItemFaultsTest : public ::testing::Test {
  protected:
    ItemFaultsTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }

    // The Calendar folder afresh, with the item's body when one is given.
    void Fresh(const char* body) {
        DeleteFolderTree(calendar_.c_str(), nullptr);
        ASSERT_TRUE(MakeDirectory(calendar_.c_str()));
        if (body != nullptr) {
            ASSERT_TRUE(testing::WriteFileBytes(calendar_ + "\\" + kItem, body));
        }
    }

    // Sweeps a write from the body before to the body after; the item is read back through the
    // library, and a following write must go through.
    long Sweep(const char* body, const std::function<int32_t()>& write, const std::string& before,
               const std::string& after, testing::FaultKind kind) {
        return testing::SweepFaults([&] { Fresh(body); }, write,
                                    [&](const testing::FaultPoint&, int32_t result) {
                                        EXPECT_EQ(1, result);  // the writes report nothing
                                        std::string stored = testing::StoredItem(kItem);
                                        EXPECT_TRUE(stored == before || stored == after)
                                            << "the body is neither the old nor the new one: \""
                                            << stored << "\"";
                                        AppointmentItemRequest again = Chunk("written again");
                                        EXPECT_EQ(1, AppointmentItemWriteFirstChunk(&again));
                                        EXPECT_EQ("written again", testing::StoredItem(kItem));
                                    },
                                    kind);
    }

    testing::TestStore store_;
    std::string calendar_;
};

const std::string kOld = "Subject: planning\r\n\r\nThe old body, which must not get lost.\r\n";
const std::string kNew = "Subject: planning, moved\r\n\r\nThe new body.\r\n";

TEST_F(ItemFaultsTest, FirstChunkReplacesABody) {
    auto write = [] {
        AppointmentItemRequest request = Chunk(kNew);
        return AppointmentItemWriteFirstChunk(&request);
    };
    long once = Sweep(kOld.c_str(), write, kOld, kNew, testing::FaultKind::kOnce);
    long gone = Sweep(kOld.c_str(), write, kOld, kNew, testing::FaultKind::kFromThenOn);
    std::printf(
        "[ faults   ] item first chunk over a body: %ld fault points once, %ld from then "
        "on\n",
        once, gone);
}

TEST_F(ItemFaultsTest, FirstChunkOfANewItem) {
    auto write = [] {
        AppointmentItemRequest request = Chunk(kNew);
        return AppointmentItemWriteFirstChunk(&request);
    };
    long once = Sweep(nullptr, write, "", kNew, testing::FaultKind::kOnce);
    long gone = Sweep(nullptr, write, "", kNew, testing::FaultKind::kFromThenOn);
    std::printf(
        "[ faults   ] item first chunk of a new item: %ld fault points once, %ld from "
        "then on\n",
        once, gone);
}

TEST_F(ItemFaultsTest, NextChunkAppends) {
    const std::string more = "A further chunk.\r\n";
    auto write = [&] {
        AppointmentItemRequest request = Chunk(more);
        return AppointmentItemWriteNextChunk(&request);
    };
    long once = Sweep(kOld.c_str(), write, kOld, kOld + more, testing::FaultKind::kOnce);
    long gone = Sweep(kOld.c_str(), write, kOld, kOld + more, testing::FaultKind::kFromThenOn);
    std::printf("[ faults   ] item next chunk: %ld fault points once, %ld from then on\n", once,
                gone);
}

}  // namespace
}  // namespace cv
