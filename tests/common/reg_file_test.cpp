// The .reg text format that configures the native build (and that cvcal writes).
#include "platform/reg_file.h"

#include <gtest/gtest.h>

#include <string>

namespace cv {
namespace {

std::string Data(const RegFile& file, Hive hive, const char* key, const char* name) {
    const RegFile::Value* value = file.Find(hive, key, name);
    return value ? value->data : std::string("<missing>");
}

TEST(RegFile, ReadsTheValueForms) {
    RegFile file = RegFile::Parse(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\r\n"
        "\"Mail Root\"=\"C:\\\\Store\\\\\\\"q\\\"\"\r\n"
        "\"Write Wait Timeout\"=dword:0000001f\r\n"
        "\"Blob\"=hex:01,02,ff\r\n"
        "\"Long\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"Expand\"=hex(2):41,00\r\n"
        "@=\"default\"\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Corvane\\Corvane\\Administration]\r\n"
        "\"ForceDefaultHost\"=dword:1\r\n");
    auto store = [&](const char* name) {
        return Data(file, Hive::kLocalMachine, "SOFTWARE\\Corvane\\Corvane", name);
    };
    EXPECT_EQ(std::string("C:\\Store\\\"q\"\0", 13), store("Mail Root"));
    EXPECT_EQ(std::string("\x1f\0\0\0", 4),
              Data(file, Hive::kLocalMachine, "software\\corvane\\corvane", "write wait timeout"));
    EXPECT_EQ("\x01\x02\xff", store("Blob"));
    EXPECT_EQ("\x01\x02\x03\x04", store("Long"));
    EXPECT_EQ(2u, file.Find(Hive::kLocalMachine, "SOFTWARE\\Corvane\\Corvane", "Expand")->type);
    EXPECT_EQ(std::string("default\0", 8), store(""));
    EXPECT_EQ(std::string("\1\0\0\0", 4),
              Data(file, Hive::kCurrentUser, "Software\\Corvane\\Corvane\\Administration",
                   "ForceDefaultHost"));
    EXPECT_EQ("<missing>",
              Data(file, Hive::kCurrentUser, "SOFTWARE\\Corvane\\Corvane", "Mail Root"));
}

TEST(RegFile, SkipsWhatItCannotRead) {
    RegFile file = RegFile::Parse(
        "REGEDIT4\n"
        "\"Orphan\"=\"before any key\"\n"
        "[HKEY_LOCAL_MACHINE\\K]\n"
        "\"Unterminated\"=\"abc\n"
        "\"BadDword\"=dword:xyz\n"
        "\"TooLong\"=dword:123456789\n"
        "\"BadHex\"=hex:1,2,300\n"
        "garbage line\n"
        "\"Good\"=\"ok\"\n"
        "[HKEY_NOWHERE\\K]\n"
        "\"Lost\"=\"x\"\n"
        "[HKEY_LOCAL_MACHINE\\K\n");
    EXPECT_EQ(std::string("ok\0", 3), Data(file, Hive::kLocalMachine, "K", "Good"));
    for (const char* name : {"Orphan", "Unterminated", "BadDword", "TooLong", "BadHex", "Lost"}) {
        EXPECT_EQ("<missing>", Data(file, Hive::kLocalMachine, "K", name)) << name;
    }
}

TEST(RegFile, DeletionsRemoveValuesAndKeyTrees) {
    RegFile file = RegFile::Parse(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
        "[HKEY_LOCAL_MACHINE\\A\\B]\n\"z\"=\"3\"\n[HKEY_LOCAL_MACHINE\\A\\C\\]\n\"z\"=\"4\"\n"
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=-\n"
        "[-HKEY_LOCAL_MACHINE\\A\\B]\n");
    EXPECT_EQ("<missing>", Data(file, Hive::kLocalMachine, "A", "x"));
    EXPECT_EQ(std::string("2\0", 2), Data(file, Hive::kLocalMachine, "A", "y"));
    EXPECT_FALSE(file.HasKey(Hive::kLocalMachine, "A\\B"));
    EXPECT_EQ(std::string("4\0", 2), Data(file, Hive::kLocalMachine, "A\\C", "z"));
}

TEST(RegFile, ReadsUtf16WithByteOrderMark) {
    std::string utf16 = "\xff\xfe";
    for (char c : std::string("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"n\"=\"v")) {
        utf16 += c;
        utf16 += '\0';
    }
    // U+00E9, U+0800 (the first of three UTF-8 bytes) and U+10FFFF (the last surrogate pair)
    utf16 += std::string("\xe9\0\0\x08\xff\xdb\xff\xdf\"\0\n\0", 12);
    RegFile file = RegFile::Parse(utf16);
    EXPECT_EQ(std::string("v\xc3\xa9\xe0\xa0\x80\xf4\x8f\xbf\xbf\0", 11),
              Data(file, Hive::kCurrentUser, "K", "n"));
    // A file rewritten in the encoding it came in is the same file.
    RegEncoding encoding = RegEncoding::kUtf8;
    const std::string text = RegTextAsUtf8(utf16, &encoding);
    EXPECT_EQ(RegEncoding::kUtf16Le, encoding);
    EXPECT_EQ(utf16, RegTextInEncoding(text, encoding));
    for (const std::string& utf8 :
         {std::string("\xef\xbb\xbfREGEDIT4\r\n"), std::string("REGEDIT4")}) {
        const std::string read = RegTextAsUtf8(utf8, &encoding);
        EXPECT_EQ("REGEDIT4", read.substr(0, 8));
        EXPECT_EQ(utf8, RegTextInEncoding(read, encoding));
    }
}

TEST(RegFile, SerialisedTextReadsBackTheSame) {
    const struct {
        Hive hive;
        const char *key, *name;
        uint32_t type;
        std::string data;
    } values[] = {
        {Hive::kLocalMachine, "SOFTWARE\\A", "Text", kRegSz, std::string("a\\\"b\0", 5)},
        {Hive::kLocalMachine, "SOFTWARE\\A", "Number", kRegDword, std::string("\x50\x1f\0\0", 4)},
        {Hive::kCurrentUser, "Software\\B", "Raw", kRegBinary, std::string("\0\xff", 2)},
        {Hive::kCurrentUser, "Software\\B", "Lines", kRegSz, std::string("x\r\ny\0", 5)},
    };
    RegFile file;
    for (const auto& v : values) file.Set(v.hive, v.key, v.name, v.type, v.data);
    RegFile again = RegFile::Parse(file.Serialize());
    for (const auto& v : values) EXPECT_EQ(v.data, Data(again, v.hive, v.key, v.name)) << v.name;
    EXPECT_TRUE(again.Remove(Hive::kCurrentUser, "software\\b", "RAW"));
    EXPECT_FALSE(again.Remove(Hive::kCurrentUser, "software\\b", "RAW"));
}

}  // namespace
}  // namespace cv
