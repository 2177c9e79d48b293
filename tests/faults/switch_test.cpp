// The switch itself: it counts the seam's file operations and fails exactly the chosen ones, as
// the system would fail them.
#include <gtest/gtest.h>

#include <string>

#include "common/fault_injection.h"
#include "common/platform.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

TEST(FaultSwitchTest, FailsTheChosenOperationsOnlyAndTheFileStaysUntouched) {
    testing::TempFolder folder;
    const std::string path = folder.Join("file");
    fault::FailNthOperation(2);
    EXPECT_TRUE(CreateNewFile(path.c_str()));
    EXPECT_FALSE(RemoveFile(path.c_str()));
    EXPECT_EQ(uint32_t{kErrorWriteFault}, LastSystemError());
    EXPECT_TRUE(EntryExists(path.c_str()));  // the failed removal did nothing
    File file;
    EXPECT_TRUE(file.Open(path.c_str(), File::Mode::kWriteTruncate));
    EXPECT_EQ(4, fault::OperationsSoFar());
    EXPECT_EQ(1, fault::FaultsInjected());
    EXPECT_EQ(fault::Operation::kRemove, fault::FirstFailedOperation());
    // A written file whose close fails may not have reached the disk: the close says so, and the
    // handle is gone all the same.
    ASSERT_TRUE(file.Write("abc", 3));
    fault::FailNthOperation(1);
    EXPECT_FALSE(file.Close());
    EXPECT_FALSE(file.IsOpen());
    // From then on every operation fails, until disarmed.
    fault::FailFromOperation(1);
    EXPECT_FALSE(file.Open(path.c_str(), File::Mode::kWriteTruncate));
    EXPECT_EQ(uint32_t{kErrorWriteFault}, LastSystemError());
    EXPECT_FALSE(CreateNewFile(folder.Join("new").c_str()));
    DirectorySearch search;
    FindData entry;
    EXPECT_FALSE(search.First(folder.Join("*").c_str(), &entry));
    EXPECT_EQ(3, fault::FaultsInjected());
    fault::Disarm();
    EXPECT_TRUE(CreateNewFile(folder.Join("new").c_str()));
    EXPECT_TRUE(search.First(folder.Join("*").c_str(), &entry));
}

}  // namespace
}  // namespace cv
