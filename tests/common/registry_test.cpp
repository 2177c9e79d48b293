// The four readers, against the real registry in the Windows build and the .reg file natively.
#include "host/host_platform.h"
#include "platform/registry.h"

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
// Numbers take any data of up to four bytes, zero-extended; every failure leaves the output alone.
TEST_F(RegistryTest, TextAndNumberReads) {
    const std::string exact(1023, 'x');  // 1023 characters and the NUL: 1024 bytes
    registry_.SetString(kMachine, kKey, "Exact", exact);
    registry_.SetString(kMachine, kKey, "Over", exact + "y");
    registry_.SetString(kMachine, kKey, "Mixed Case", "yes");
    for (Hive hive : {kMachine, kUser}) {
        registry_.SetBinary(hive, kKey, "Full", std::string(1024, 'z'));  // no room for the NUL
        registry_.SetBinary(hive, kKey, "Empty", "");
        registry_.SetBinary(hive, kKey, "Embedded", std::string("ab\0cd", 5));
    }
    registry_.SetDword(kMachine, kKey, "Number", 0x1f);
    registry_.SetDword(kMachine, kKey, "Wide", 0x12345678);
    registry_.SetString(kMachine, kKey, "Digit", "7");
    registry_.SetBinary(kMachine, kKey, "Eight", std::string(8, '\1'));
    registry_.SetDword(kMachine, kKey, "OnlyMachine", 1);
    registry_.SetDword(kUser, kKey, "Number", 8081);
    struct Case {
        bool number;
        Hive hive;
        const char* key;
        const char* name;
        int result;
        std::string out;  // a number's in decimal
    };
    const Case cases[] = {
        {false, kMachine, kKey, "Exact", 1, exact},
        {false, kMachine, kKey, "Over", 0, ""},
        {false, kMachine, kKey, "Full", 0, ""},
        {false, kUser, kKey, "Full", 0, "preset"},
        {false, kMachine, kKey, "Absent", 0, ""},
        {false, kUser, kKey, "Absent", 0, "preset"},
        {false, kMachine, "SOFTWARE\\CvaicpTests\\NoSuchKey", "Exact", 0, "preset"},
        {false, kMachine, kKey, "Empty", 0, ""},
        {false, kUser, kKey, "Empty", 1, ""},
        {false, kUser, kKey, "Embedded", 1, "ab"},
        {false, kMachine, "software\\cvaicptests\\REGISTRY", "MIXED case", 1, "yes"},
        {true, kMachine, kKey, "Number", 1, "31"},
        {true, kMachine, kKey, "Digit", 1, "55"},  // '7' and NUL
        {true, kMachine, kKey, "Eight", 0, "99"},
        {true, kMachine, kKey, "Absent", 0, "99"},
        {true, kMachine, "", "Number", 0, "99"},
        {true, kUser, kKey, "Number", 1, "8081"},
        {true, kUser, kKey, "OnlyMachine", 0, "99"},
        {true, kMachine, kKey, "Wide", 1, "305419896"},
    };
    for (const Case& c : cases) {
        const bool user = c.hive == kUser;
        SCOPED_TRACE(std::string(user ? "user " : "machine ") + c.key + " " + c.name);
        char out[kRegistryTextSize] = "preset";
        uint32_t value = 99;
        EXPECT_EQ(c.result, c.number ? (user ? GetUserRegistryDword(c.key, c.name, &value)
                                             : GetRegistryDword(c.key, c.name, &value))
                                     : (user ? GetUserRegistryString(c.key, c.name, out)
                                             : GetRegistryString(c.key, c.name, out)));
        EXPECT_EQ(c.out, c.number ? std::to_string(value) : std::string(out));
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
