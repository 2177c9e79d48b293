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

constexpr Hive kMachine = Hive::kLocalMachine, kUser = Hive::kCurrentUser;

// Machine text reads clear their output on a missing or unusable value; user reads leave it alone.
TEST_F(RegistryTest, TextReads) {
    const std::string exact(1023, 'x');  // 1023 characters and the NUL: 1024 bytes
    registry_.SetString(kMachine, kKey, "Exact", exact);
    registry_.SetString(kMachine, kKey, "Over", exact + "y");
    registry_.SetString(kMachine, kKey, "Mixed Case", "yes");
    for (Hive hive : {kMachine, kUser}) {
        registry_.SetBinary(hive, kKey, "Full", std::string(1024, 'z'));  // no room for the NUL
        registry_.SetBinary(hive, kKey, "Empty", "");
        registry_.SetBinary(hive, kKey, "Embedded", std::string("ab\0cd", 5));
    }
    struct Case {
        Hive hive;
        const char* key;
        const char* name;
        int result;
        std::string out;
    };
    const Case cases[] = {
        {kMachine, kKey, "Exact", 1, exact},
        {kMachine, kKey, "Over", 0, ""},
        {kMachine, kKey, "Full", 0, ""},
        {kUser, kKey, "Full", 0, "preset"},
        {kMachine, kKey, "Absent", 0, ""},
        {kUser, kKey, "Absent", 0, "preset"},
        {kMachine, "SOFTWARE\\CvaicpTests\\NoSuchKey", "Exact", 0, "preset"},
        {kMachine, kKey, "Empty", 0, ""},
        {kUser, kKey, "Empty", 1, ""},
        {kUser, kKey, "Embedded", 1, "ab"},
        {kMachine, "software\\cvaicptests\\REGISTRY", "MIXED case", 1, "yes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hive == kUser ? "user " : "machine ") + c.key + " " + c.name);
        char out[kRegistryTextSize] = "preset";
        EXPECT_EQ(c.result, c.hive == kUser ? GetUserRegistryString(c.key, c.name, out)
                                            : GetRegistryString(c.key, c.name, out));
        EXPECT_EQ(c.out, out);
    }
}

// Numbers take any data of up to four bytes, zero-extended; every failure leaves the output alone.
TEST_F(RegistryTest, DwordReads) {
    registry_.SetDword(kMachine, kKey, "Number", 0x1f);
    registry_.SetDword(kMachine, kKey, "Wide", 0x12345678);
    registry_.SetString(kMachine, kKey, "Digit", "7");
    registry_.SetBinary(kMachine, kKey, "Eight", std::string(8, '\1'));
    registry_.SetDword(kMachine, kKey, "OnlyMachine", 1);
    registry_.SetDword(kUser, kKey, "Number", 8081);
    struct Case {
        Hive hive;
        const char* key;
        const char* name;
        int result;
        uint32_t value;
    };
    const Case cases[] = {
        {kMachine, kKey, "Number", 1, 0x1f}, {kMachine, kKey, "Digit", 1, 0x37},  // '7' and NUL
        {kMachine, kKey, "Eight", 0, 99},    {kMachine, kKey, "Absent", 0, 99},
        {kMachine, "", "Number", 0, 99},     {kUser, kKey, "Number", 1, 8081},
        {kUser, kKey, "OnlyMachine", 0, 99}, {kMachine, kKey, "Wide", 1, 0x12345678},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hive == kUser ? "user " : "machine ") + c.key + " " + c.name);
        uint32_t value = 99;
        EXPECT_EQ(c.result, c.hive == kUser ? GetUserRegistryDword(c.key, c.name, &value)
                                            : GetRegistryDword(c.key, c.name, &value));
        EXPECT_EQ(c.value, value);
    }
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
    EXPECT_EQ(1, value());                                // read again from what was kept
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

}  // namespace
}  // namespace cv
