// The property map: names to index fields, the value conversions, and reading and writing an
// item's properties through its index entry.
#include "index/property_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/platform.h"
#include "tests/index/index_test_support.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using Bytes = std::vector<unsigned char>;

IndexFieldDescriptor Lookup(const char* name, int expected = 1) {
    IndexFieldDescriptor field;
    std::memset(&field, 0x5A, sizeof field);
    EXPECT_EQ(expected, LookupCalendarProperty(name, &field)) << name;
    return field;
}

std::string Text(const Bytes& bytes) {
    return bytes.empty() ? "(none)" : std::string(reinterpret_cast<const char*>(bytes.data()));
}

Bytes Int32(int32_t number) {
    Bytes bytes(4);
    std::memcpy(bytes.data(), &number, 4);
    return bytes;
}

Bytes TextBytes(const std::string& text) {
    Bytes bytes(text.begin(), text.end());
    bytes.push_back('\0');
    return bytes;
}

FileTime AtSeconds(int64_t seconds) {
    return static_cast<FileTime>(seconds * 10000000) + kFileTimeUnixEpoch;
}

// from -> to of a value; the result code, and the value when there is one.
std::string Convert(uint32_t from, uint32_t to, const Bytes& in, int* result = nullptr) {
    Bytes out;
    int code = ConvertPropertyValue(from, to, in.data(), in.size(), &out);
    if (result != nullptr) *result = code;
    return code == 2 ? Text(out) : "(none)";
}

TEST(PropertyMapTest, NamesInAnyCaseFindTheirField) {
    const struct {
        const char* name;
        const char* element;
        uint32_t property_type;
        uint32_t index_type;
        uint32_t source;
    } known[] = {
        {"pr_subject", "SUBJECT", kValueAnyText, kValueAnyText, kSourceIndex},
        {"PR_BNP_VCALENDAR", "VCALENDAR", kValueAnyText, kValueAnyText, kSourceItemFile},
        {"CV_ITEM_CLASS", "!CLASS", kValueInteger, kValueText, kSourceIndex},  // a generic name
        {"pr_bnp_start", "STARTIME", kValueFileTime, kValueSeconds, kSourceIndex},
    };
    for (const auto& k : known) {
        IndexFieldDescriptor field = Lookup(k.name);
        EXPECT_STREQ(k.element, field.ElementName) << k.name;
        EXPECT_EQ(k.property_type, field.PropertyType) << k.name;
        EXPECT_EQ(k.index_type, field.IndexType) << k.name;
        EXPECT_EQ(k.source, field.Source) << k.name;
    }
    for (const char* name : {"PR_SUBJECTS", "SUBJECT", "", "PR_BNP_Start "}) {
        IndexFieldDescriptor field = Lookup(name, 0);
        EXPECT_STREQ("", field.ElementName) << name;
        EXPECT_EQ(kSourceIndex, field.Source);
    }
    IndexFieldDescriptor field;
    EXPECT_EQ(0, LookupCalendarProperty(nullptr, &field));
}

TEST(PropertyMapTest, FileTimesBecomeSecondsAcross1970And2038) {
    auto seconds = [](int64_t at) {
        return Convert(kValueFileTime, kValueSeconds, FileTimeBytes(AtSeconds(at)));
    };
    EXPECT_EQ("0", seconds(0));
    EXPECT_EQ("-1", seconds(-1));
    EXPECT_EQ("2147483647", seconds(INT32_MAX));               // 2038-01-19T03:14:07Z
    EXPECT_EQ("2147483648", seconds(int64_t{INT32_MAX} + 1));  // written whole, not wrapped
    // A tick short of a second is no second yet.
    EXPECT_EQ("0", Convert(kValueFileTime, kValueSeconds, FileTimeBytes(kFileTimeUnixEpoch + 9)));

    auto file_time = [](const std::string& text) {
        Bytes out;
        EXPECT_EQ(2, ConvertPropertyValue(kValueSeconds, kValueFileTime, text.c_str(),
                                          text.size() + 1, &out));
        EXPECT_EQ(8u, out.size());
        return out.size() == 8 ? FileTimeFromBytes(out.data()) : 0;
    };
    EXPECT_EQ(kFileTimeUnixEpoch, file_time("0"));
    EXPECT_EQ(AtSeconds(INT32_MAX), file_time("2147483647"));
    EXPECT_EQ(AtSeconds(int64_t{INT32_MAX} + 1), file_time("2147483648"));
    EXPECT_EQ(AtSeconds(-86400), file_time("-86400"));
    EXPECT_EQ(kFileTimeUnixEpoch, file_time("soon"));
    EXPECT_EQ(0u, file_time("-99999999999"));  // nothing before 1601
    // Low byte first, every byte its own.
    EXPECT_EQ((Bytes{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x81}),
              FileTimeBytes(0x8102030405060708));
    EXPECT_EQ(0x8102030405060708u, FileTimeFromBytes(FileTimeBytes(0x8102030405060708).data()));
}

TEST(PropertyMapTest, NumbersBooleansAndTexts) {
    EXPECT_EQ("-42", Convert(kValueInteger, kValueText, Int32(-42)));
    EXPECT_EQ(Int32(-42), [] {
        Bytes out;
        ConvertPropertyValue(kValueText, kValueInteger, " -42x", 6, &out);
        return out;
    }());
    EXPECT_EQ("1", Convert(kValueBoolean, kValueText, Int32(5)));
    EXPECT_EQ("0", Convert(kValueBoolean, kValueText, Int32(0)));
    for (const auto& [text, truth] :
         std::vector<std::pair<std::string, int32_t>>{{"1", 1}, {"01", 0}, {"2", 0}, {"", 0}}) {
        Bytes out;
        ASSERT_EQ(2, ConvertPropertyValue(kValueText, kValueBoolean, text.c_str(), text.size() + 1,
                                          &out));
        EXPECT_EQ(Int32(truth), out) << text;
    }
    // Text without its NUL is read to the end of the bytes.
    EXPECT_EQ("Hello", Convert(kValueAnyText, kValueAnyText, Bytes{'H', 'e', 'l', 'l', 'o'}));

    // Other pairs have no conversion, and a fixed-size value must be whole.
    int result = 0;
    for (auto [from, to] :
         std::vector<std::pair<uint32_t, uint32_t>>{{kValueText, kValueText},
                                                    {kValueFileTime, kValueText},
                                                    {kValueInteger, kValueSeconds},
                                                    {kValueDouble, kValueDouble},
                                                    {kValueAnyText, kValueText},
                                                    {42, 42}}) {
        Convert(from, to, Bytes(8, 0), &result);
        EXPECT_EQ(-1, result) << from << " to " << to;
    }
    Convert(kValueFileTime, kValueSeconds, Bytes(7, 0), &result);
    EXPECT_EQ(-1, result);
    Convert(kValueInteger, kValueText, Bytes(3, 0), &result);
    EXPECT_EQ(-1, result);
}

// An index with one item entry, as the scan makes it.
class IndexPropertyTest : public ::testing::Test {
  protected:
    IndexPropertyTest() {
        std::snprintf(index_.FolderPath, sizeof index_.FolderPath, "%s", folder_.path().c_str());
        EXPECT_EQ(1, CreateIndexDocument(&index_));
        const char xml[] =
            "<BASEELEMENT><ELEMENT ID=\"other\"/><ELEMENT ID=\"Item1\"><START>10</START>"
            "<STARTIME>1110205810</STARTIME><SUBJECT>Hi</SUBJECT></ELEMENT></BASEELEMENT>";
        XmlParseError parse_error;
        EXPECT_EQ(XmlLoadResult::kLoaded, index_.FolderIndex.LoadText(xml, &parse_error));
        EXPECT_TRUE(FindIndexItem(index_, "ITEM1", &item_));
    }

    int Set(const char* name, const Bytes& value) {
        return SetCalendarProperty(&index_, &item_, name, value.data(), value.size());
    }
    Bytes Get(const char* name, int expected = 2) {
        Bytes value;
        EXPECT_EQ(expected, GetCalendarProperty(index_, item_, name, &value)) << name;
        return value;
    }
    std::string Shape() { return testing::Shape(item_.IndexNode); }

    testing::TempFolder folder_;
    StoreIndex index_;
    IndexNodeSlot item_;
};

TEST_F(IndexPropertyTest, BothStartNamesWriteTheOneStartField) {
    EXPECT_EQ(FileTimeBytes(AtSeconds(1110205810)), Get("PR_START_DATE"));
    EXPECT_EQ(1, Set("PR_START_DATE", FileTimeBytes(kFileTimeUnixEpoch)));
    EXPECT_EQ("ELEMENT[ID=Item1](START=\"10\",STARTIME=\"0\",SUBJECT=\"Hi\")", Shape());
    EXPECT_EQ(1, Set("pr_bnp_start", FileTimeBytes(AtSeconds(int64_t{INT32_MAX} + 1))));
    EXPECT_EQ("ELEMENT[ID=Item1](START=\"10\",STARTIME=\"2147483648\",SUBJECT=\"Hi\")", Shape());
    EXPECT_EQ(FileTimeBytes(AtSeconds(int64_t{INT32_MAX} + 1)), Get("PR_START_DATE"));
}

TEST_F(IndexPropertyTest, FieldsAreAddedWhenMissingAndReadBackInTheirType) {
    Get("PR_LOCATION", -1);  // not in the entry
    EXPECT_EQ(1, Set("PR_LOCATION", TextBytes("Room 4")));
    EXPECT_EQ(1, Set("PR_BNP_AllDayEvent", Int32(7)));
    EXPECT_EQ(1, Set("PR_BNP_Importance", Int32(-2)));
    EXPECT_EQ(1, Set("PR_BNP_End", FileTimeBytes(AtSeconds(3600))));
    EXPECT_EQ(
        "ELEMENT[ID=Item1](START=\"10\",STARTIME=\"1110205810\",SUBJECT=\"Hi\","
        "LOCATION=\"Room 4\",ALLDAYEVENT=\"1\",IMPORTANCE=\"-2\",FINISHTIME=\"3600\")",
        Shape());
    EXPECT_EQ(TextBytes("Room 4"), Get("PR_LOCATION"));  // the text with its NUL
    EXPECT_EQ(Int32(1), Get("PR_BNP_AllDayEvent"));
    EXPECT_EQ(Int32(-2), Get("PR_BNP_IMPORTANCE"));
    EXPECT_EQ(FileTimeBytes(AtSeconds(3600)), Get("PR_END_DATE"));

    // The other entry is untouched.
    IndexNodeSlot other;
    ASSERT_TRUE(FindIndexItem(index_, "other", &other));
    EXPECT_EQ("ELEMENT[ID=other]=\"\"", testing::Shape(other.IndexNode));
}

TEST_F(IndexPropertyTest, TheIdAttributeAndTheClassNumber) {
    EXPECT_EQ(TextBytes("Item1"), Get("CV_ITEM_ID"));
    item_.SetClassNumber(12);
    EXPECT_EQ(Int32(12), Get("CV_ITEM_CLASS"));
    EXPECT_EQ(1, Set("CV_ITEM_CLASS", Int32(-5)));
    EXPECT_EQ(-5, item_.ClassNumber());
    EXPECT_EQ(1, Set("cv_item_id", TextBytes("Renamed")));
    EXPECT_EQ(TextBytes("Renamed"), Get("CV_ITEM_ID"));
}

TEST_F(IndexPropertyTest, UnknownNamesAndShortValuesAreRefused) {
    const std::string before = Shape();
    Get("PR_NOTHING", -1);
    EXPECT_EQ(-1, Set("PR_NOTHING", TextBytes("x")));
    EXPECT_EQ(0, Set("PR_START_DATE", Bytes(4, 0)));  // half a FILETIME
    EXPECT_EQ(0, SetCalendarProperty(&index_, &item_, "PR_SUBJECT", nullptr, 0));
    EXPECT_EQ(before, Shape());
}

TEST_F(IndexPropertyTest, ItemFileValuesGoThroughTheItemsFile) {
    ASSERT_TRUE(testing::WriteFileBytes(folder_.Join("Item1"), "Subject: Hi\r\n\r\nold body\r\n"));
    EXPECT_EQ(TextBytes("old body\r\n"), Get("PR_BODY"));
    EXPECT_EQ(TextBytes(""), Get("PR_BNP_vCalendar"));
    EXPECT_EQ(1, Set("PR_BNP_vCalendar", TextBytes("BEGIN:VCALENDAR")));
    EXPECT_EQ(TextBytes("old body\r\n"), Get("PR_BODY"));
    EXPECT_EQ(TextBytes("BEGIN:VCALENDAR\r\n"), Get("PR_BNP_vCalendar"));
    // The index does not carry them.
    EXPECT_EQ("ELEMENT[ID=Item1](START=\"10\",STARTIME=\"1110205810\",SUBJECT=\"Hi\")", Shape());

    // An entry without an item file has no such value, and gets none.
    IndexNodeSlot other;
    ASSERT_TRUE(FindIndexItem(index_, "other", &other));
    Bytes value;
    EXPECT_EQ(-1, GetCalendarProperty(index_, other, "PR_BODY", &value));
    const Bytes text = TextBytes("x");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, SetCalendarProperty(&index_, &other, "PR_BODY", text.data(), text.size()));
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(testing::PathExists(folder_.Join("other")));
    EXPECT_FALSE(testing::PathExists(folder_.Join("_other")));
}

}  // namespace
}  // namespace cv
