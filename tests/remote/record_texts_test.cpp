// Records' texts on the wire: the Windows build's code page whichever build sends them.
#include "remote/record_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/records.h"

namespace cv {
namespace {

template <size_t Size>
void Set(char (&field)[Size], const std::string& text) {
    std::memset(field, 0, Size);
    std::memcpy(field, text.data(), text.size() < Size ? text.size() : Size);
}

#ifndef _WIN32
TEST(RecordTextsTest, NativeTextsTravelInWindows1252AndComeBackWhole) {
    struct Row {
        std::string native, wire;
    } rows[] = {
        {"anna", "anna"},
        {"Zo\xc3\xab \xc3\x96lund", "Zo\xeb \xd6lund"},
        {"j\xc3\xbcrgen \xe2\x82\xac", "j\xfcrgen \x80"},
        {"\xc5\x93\xe2\x80\x9e\xc2\x81",
         "\x9c\x84\x81"},  // the C1 control the code page leaves open
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.native);
        AppointmentRequest record{};
        Set(record.Mailbox, row.native);
        Set(record.Postoffice, row.native);
        Set(record.ItemId, row.native);
        Set(record.PeriodName, "Y26M12D07");
        record.StartTime = 7;
        ASSERT_TRUE(ConvertRecordTexts(TextWay::kToWire, &record));
        EXPECT_EQ(row.wire, record.Mailbox);
        EXPECT_EQ(row.wire, record.Postoffice);
        EXPECT_EQ(row.wire, record.ItemId);
        EXPECT_STREQ("Y26M12D07", record.PeriodName);
        ASSERT_TRUE(ConvertRecordTexts(TextWay::kFromWire, &record));
        EXPECT_EQ(row.native, record.Mailbox);
        EXPECT_EQ(row.native, record.ItemId);
        EXPECT_EQ(7, record.StartTime);
    }
}

TEST(RecordTextsTest, WhatTheWireCannotCarryLeavesTheRecordAsItWas) {
    // A character outside the code page, and a name that only fits its field on the wire.
    AppointmentRequest outside{};
    Set(outside.Mailbox, "anna");
    Set(outside.ItemId,
        "\xc5\x82\xc3\xb3"
        "d\xc5\xba");  // Polish, not in Windows-1252
    const AppointmentRequest before = outside;
    EXPECT_FALSE(ConvertRecordTexts(TextWay::kToWire, &outside));
    EXPECT_EQ(0, std::memcmp(&before, &outside, sizeof before));

    AppointmentRequest full{};
    Set(full.ItemId, std::string(40, '\xe9'));  // 40 bytes on the wire, 80 in UTF-8
    const AppointmentRequest wide = full;
    EXPECT_FALSE(ConvertRecordTexts(TextWay::kFromWire, &full));
    EXPECT_EQ(0, std::memcmp(&wide, &full, sizeof wide));

    // A native name that is no UTF-8 is in a Windows code page already, and passes as it is.
    AppointmentRequest latin{};
    Set(latin.Mailbox, "J\xfcrgen");
    EXPECT_TRUE(ConvertRecordTexts(TextWay::kToWire, &latin));
    EXPECT_STREQ("J\xfcrgen", latin.Mailbox);
}

TEST(RecordTextsTest, ItemBytesPassAsTheyAreAndTheListsXmlKeepsItsLength) {
    AppointmentItemRequest item{};
    Set(item.ItemFileName,
        "Gr\xc3\xb6\xc3\x9f"
        "e");
    Set(item.Data,
        "Subject: Gr\xc3\xb6\xc3\x9f"
        "e\r\n");
    item.DataLength = 17;
    ASSERT_TRUE(ConvertRecordTexts(TextWay::kToWire, &item));
    EXPECT_STREQ(
        "Gr\xf6\xdf"
        "e",
        item.ItemFileName);
    EXPECT_STREQ(
        "Subject: Gr\xc3\xb6\xc3\x9f"
        "e\r\n",
        item.Data);

    ListItem listed{};
    Set(listed.ItemXml, "<A SUBJECT=\"Caf\xe9\"/>");
    listed.ItemXmlLength = 19;
    ASSERT_TRUE(ConvertRecordTexts(TextWay::kFromWire, &listed));
    EXPECT_STREQ("<A SUBJECT=\"Caf\xc3\xa9\"/>", listed.ItemXml);
    EXPECT_EQ(20u, listed.ItemXmlLength);
}
#endif

}  // namespace
}  // namespace cv
