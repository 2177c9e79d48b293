// The four readers, against the real registry in the Windows build and the .reg file natively.
#include "common/registry.h"
#include "common/host_platform.h"

#include <gtest/gtest.h>

#include <cstring>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <string>

#include "tests/support/test_store.h"

namespace cv {
namespace {

constexpr const char* kKey = "SOFTWARE\\CvaicpTests\\Registry";

class RegistryTest : public ::testing::Test {
  protected:
    testing::TestRegistry registry_;
};

TEST_F(RegistryTest, TextUpTo1024BytesIsRead) {
    std::string exact(1023, 'x');  // 1023 characters and the NUL: 1024 bytes
    registry_.SetString(Hive::kLocalMachine, kKey, "Exact", exact);
    registry_.SetString(Hive::kLocalMachine, kKey, "Over", exact + "y");
    char out[kRegistryTextSize] = "preset";
    EXPECT_EQ(1, GetRegistryString(kKey, "Exact", out));
    EXPECT_EQ(exact, out);
    std::strcpy(out, "preset");
    EXPECT_EQ(0, GetRegistryString(kKey, "Over", out));
    EXPECT_STREQ("", out);
}

TEST_F(RegistryTest, TextFillingTheBufferWithoutNulCountsAsMissing) {
    registry_.SetBinary(Hive::kLocalMachine, kKey, "Full", std::string(1024, 'z'));
    registry_.SetBinary(Hive::kCurrentUser, kKey, "Full", std::string(1024, 'z'));
    char out[kRegistryTextSize] = "preset";
    EXPECT_EQ(0, GetRegistryString(kKey, "Full", out));
    EXPECT_STREQ("", out);
    std::strcpy(out, "preset");
    EXPECT_EQ(0, GetUserRegistryString(kKey, "Full", out));
    EXPECT_STREQ("preset", out);
}

TEST_F(RegistryTest, MissingTextClearsMachineOutputButKeepsUserOutput) {
    registry_.SetString(Hive::kLocalMachine, kKey, "Present", "v");
    registry_.SetString(Hive::kCurrentUser, kKey, "Present", "v");
    char out[kRegistryTextSize] = "preset";
    EXPECT_EQ(0, GetRegistryString(kKey, "Absent", out));
    EXPECT_STREQ("", out);
    std::strcpy(out, "preset");
    EXPECT_EQ(0, GetUserRegistryString(kKey, "Absent", out));
    EXPECT_STREQ("preset", out);
    // A key that cannot be opened leaves both alone.
    std::strcpy(out, "preset");
    EXPECT_EQ(0, GetRegistryString("SOFTWARE\\CvaicpTests\\NoSuchKey", "Present", out));
    EXPECT_STREQ("preset", out);
}

TEST_F(RegistryTest, EmptyTextFailsForMachineAndReadsEmptyForUser) {
    registry_.SetBinary(Hive::kLocalMachine, kKey, "Empty", "");
    registry_.SetBinary(Hive::kCurrentUser, kKey, "Empty", "");
    char out[kRegistryTextSize] = "preset";
    EXPECT_EQ(0, GetRegistryString(kKey, "Empty", out));
    EXPECT_STREQ("", out);
    std::strcpy(out, "preset");
    EXPECT_EQ(1, GetUserRegistryString(kKey, "Empty", out));
    EXPECT_STREQ("", out);
}

TEST_F(RegistryTest, TextEndsAtItsFirstNul) {
    registry_.SetBinary(Hive::kCurrentUser, kKey, "Embedded", std::string("ab\0cd", 5));
    char out[kRegistryTextSize];
    EXPECT_EQ(1, GetUserRegistryString(kKey, "Embedded", out));
    EXPECT_STREQ("ab", out);
}

TEST_F(RegistryTest, DwordAcceptsAnyDataUpToFourBytes) {
    registry_.SetDword(Hive::kLocalMachine, kKey, "Number", 0x1f);
    registry_.SetString(Hive::kLocalMachine, kKey, "Digit", "7");
    registry_.SetBinary(Hive::kLocalMachine, kKey, "Eight", std::string(8, '\1'));
    registry_.SetDword(Hive::kCurrentUser, kKey, "Number", 8081);
    uint32_t value = 99;
    EXPECT_EQ(1, GetRegistryDword(kKey, "Number", &value));
    EXPECT_EQ(0x1fu, value);
    EXPECT_EQ(1, GetRegistryDword(kKey, "Digit", &value));
    EXPECT_EQ(0x37u, value);  // '7' and its NUL, zero-extended
    value = 99;
    EXPECT_EQ(0, GetRegistryDword(kKey, "Eight", &value));
    EXPECT_EQ(99u, value);
    EXPECT_EQ(0, GetRegistryDword(kKey, "Absent", &value));
    EXPECT_EQ(99u, value);
    EXPECT_EQ(0, GetRegistryDword("", "Number", &value));
    EXPECT_EQ(99u, value);
    EXPECT_EQ(1, GetUserRegistryDword(kKey, "Number", &value));
    EXPECT_EQ(8081u, value);
}

TEST_F(RegistryTest, HivesAreSeparate) {
    registry_.SetDword(Hive::kLocalMachine, kKey, "OnlyMachine", 1);
    uint32_t value = 5;
    EXPECT_EQ(0, GetUserRegistryDword(kKey, "OnlyMachine", &value));
    EXPECT_EQ(5u, value);
}

TEST_F(RegistryTest, ChangesAreSeenAtTheNextReading) {
    uint32_t value = 0;
    registry_.SetDword(Hive::kLocalMachine, kKey, "Changing", 1);
    EXPECT_EQ(1, GetRegistryDword(kKey, "Changing", &value));
    EXPECT_EQ(1u, value);
    registry_.SetDword(Hive::kLocalMachine, kKey, "Changing", 2);
    EXPECT_EQ(1, GetRegistryDword(kKey, "Changing", &value));
    EXPECT_EQ(2u, value);
    registry_.Delete(Hive::kLocalMachine, kKey, "Changing");
    value = 7;
    EXPECT_EQ(0, GetRegistryDword(kKey, "Changing", &value));
    EXPECT_EQ(7u, value);
}

#ifndef _WIN32
// The file may be changed by anything, in every way an editor or a script changes a file: written
// over in place with the same size, replaced by another renamed over it, or taken away with its
// folder and made again.
TEST(RegistryFileTest, EveryWayOfChangingTheFileIsSeenAtTheNextReading) {
    auto text = [](int n) {
        return "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
               std::string(kKey) + "]\r\n\"N\"=dword:0000000" + std::to_string(n) + "\r\n";
    };
    auto value = [] {
        uint32_t n = 0;
        return GetRegistryDword(kKey, "N", &n) ? static_cast<int>(n) : -1;
    };
    testing::TempFolder outer;
    std::string folder = outer.Join("config");
    std::string file = folder + "/registry.reg";
    for (char* p : {&folder[0], &file[0]}) {
        for (; *p; ++p) *p = *p == '\\' ? '/' : *p;
    }
    ASSERT_EQ(0, mkdir(folder.c_str(), 0777));
    ASSERT_TRUE(testing::WriteFileBytes(file, text(1)));
    SetProcessEnvironment("CVAICP_REGISTRY", file.c_str());
    EXPECT_EQ(1, value());
    EXPECT_EQ(1, value());  // read again from what was kept

    ASSERT_TRUE(testing::WriteFileBytes(file, text(2)));  // in place, the same size
    EXPECT_EQ(2, value());

    ASSERT_TRUE(testing::WriteFileBytes(file + ".new", text(3)));
    ASSERT_EQ(0, rename((file + ".new").c_str(), file.c_str()));
    EXPECT_EQ(3, value());

    ASSERT_EQ(0, unlink(file.c_str()));
    EXPECT_EQ(-1, value());
    ASSERT_TRUE(testing::WriteFileBytes(file, text(4)));
    EXPECT_EQ(4, value());

    ASSERT_EQ(0, unlink(file.c_str()));
    ASSERT_EQ(0, rmdir(folder.c_str()));
    ASSERT_EQ(0, mkdir(folder.c_str(), 0777));
    ASSERT_TRUE(testing::WriteFileBytes(file, text(5)));
    EXPECT_EQ(5, value());
    ASSERT_TRUE(testing::WriteFileBytes(file, text(6)));  // watched anew
    EXPECT_EQ(6, value());
    SetProcessEnvironment("CVAICP_REGISTRY", nullptr);
}
#endif

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
    registry_.SetString(Hive::kLocalMachine, kKey, "Mixed Case", "yes");
    char out[kRegistryTextSize];
    EXPECT_EQ(1, GetRegistryString("software\\cvaicptests\\REGISTRY", "MIXED case", out));
    EXPECT_STREQ("yes", out);
}

}  // namespace
}  // namespace cv
