// An item's properties: the property map (names to index fields, the value conversions, reading
// and writing through the index entry) and the body and vCalendar text of item files (the
// single-part and multipart forms, and writes that leave the item file whole whenever they fail).
#include "index_api/item_properties.h"
#include "index_api/property_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/index/index_test_support.h"
#include "tests/support/diagnostics.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Int32(int32_t number) {
    Bytes bytes(4);
    std::memcpy(bytes.data(), &number, 4);
    return bytes;
}

Bytes TextBytes(const std::string& text) {
    return Bytes(text.c_str(), text.c_str() + text.size() + 1);
}

FileTime AtSeconds(int64_t seconds) {
    return static_cast<FileTime>(seconds * 10000000) + kFileTimeUnixEpoch;
}

// Bytes to bytes: the converted value, or the result code in parentheses when there is none.
Bytes Converted(uint32_t from, uint32_t to, const Bytes& in) {
    Bytes out;
    int code = ConvertPropertyValue(from, to, in.data(), in.size(), &out);
    return code == 2 ? out : TextBytes("(" + std::to_string(code) + ")");
}

std::string Convert(uint32_t from, uint32_t to, const Bytes& in) {
    Bytes out = Converted(from, to, in);
    return out.empty() ? "(none)" : std::string(reinterpret_cast<const char*>(out.data()));
}

TEST(PropertyMapTest, NamesInAnyCaseFindTheirField) {
    const struct {
        const char* name;
        const char* element;  // "": not a name of the map
        uint32_t property_type;
        uint32_t index_type;
        uint32_t source;
    } names[] = {
        {"pr_subject", "SUBJECT", kValueAnyText, kValueAnyText, kSourceIndex},
        {"PR_BNP_VCALENDAR", "VCALENDAR", kValueAnyText, kValueAnyText, kSourceItemFile},
        {"CV_ITEM_CLASS", "!CLASS", kValueInteger, kValueText, kSourceIndex},  // a generic name
        {"pr_bnp_start", "STARTIME", kValueFileTime, kValueSeconds, kSourceIndex},
        {"PR_SUBJECTS", "", 0, 0, kSourceIndex},
        {"SUBJECT", "", 0, 0, kSourceIndex},
        {"", "", 0, 0, kSourceIndex},
        {"PR_BNP_Start ", "", 0, 0, kSourceIndex},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.name);
        IndexFieldDescriptor field;
        std::memset(&field, 0x5A, sizeof field);
        EXPECT_EQ(*n.element ? 1 : 0, LookupCalendarProperty(n.name, &field));
        EXPECT_STREQ(n.element, field.ElementName);
        EXPECT_EQ(n.source, field.Source);
        if (*n.element) {
            EXPECT_EQ(n.property_type, field.PropertyType);
            EXPECT_EQ(n.index_type, field.IndexType);
        }
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
    const struct {
        uint32_t from, to;
        Bytes in, out;
    } cases[] = {
        {kValueInteger, kValueText, Int32(-42), TextBytes("-42")},
        {kValueText, kValueInteger, TextBytes(" -42x"), Int32(-42)},
        {kValueBoolean, kValueText, Int32(5), TextBytes("1")},
        {kValueBoolean, kValueText, Int32(0), TextBytes("0")},
        {kValueText, kValueBoolean, TextBytes("1"), Int32(1)},
        {kValueText, kValueBoolean, TextBytes("01"), Int32(0)},
        {kValueText, kValueBoolean, TextBytes("2"), Int32(0)},
        {kValueText, kValueBoolean, TextBytes(""), Int32(0)},
        // Text without its NUL is read to the end of the bytes.
        {kValueAnyText, kValueAnyText, Bytes{'H', 'i'}, TextBytes("Hi")},
        // Other pairs have no conversion, and a fixed-size value must be whole.
        {kValueText, kValueText, Bytes(8, 0), TextBytes("(-1)")},
        {kValueFileTime, kValueText, Bytes(8, 0), TextBytes("(-1)")},
        {kValueInteger, kValueSeconds, Bytes(8, 0), TextBytes("(-1)")},
        {kValueDouble, kValueDouble, Bytes(8, 0), TextBytes("(-1)")},
        {kValueAnyText, kValueText, Bytes(8, 0), TextBytes("(-1)")},
        {42, 42, Bytes(8, 0), TextBytes("(-1)")},
        {kValueFileTime, kValueSeconds, Bytes(7, 0), TextBytes("(-1)")},
        {kValueInteger, kValueText, Bytes(3, 0), TextBytes("(-1)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
        EXPECT_EQ(c.out, Converted(c.from, c.to, c.in));
    }
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
    EXPECT_EQ(1, Set("PR_BNP_vCalendar", TextBytes("BEGIN:VCALENDAR")));
    EXPECT_EQ(TextBytes("BEGIN:VCALENDAR\r\n"), Get("PR_BNP_vCalendar"));
    // The index does not carry them.
    EXPECT_EQ("ELEMENT[ID=Item1](START=\"10\",STARTIME=\"1110205810\",SUBJECT=\"Hi\")", Shape());
    // An entry without an item file has no such value, and gets none.
    ASSERT_TRUE(FindIndexItem(index_, "other", &item_));
    Get("PR_BODY", -1);
    {
        testing::KeptDiagnostics quiet;
        EXPECT_EQ(0, Set("PR_BODY", TextBytes("x")));
    }
    EXPECT_FALSE(testing::PathExists(folder_.Join("other")) ||
                 testing::PathExists(folder_.Join("_other")));
}

const char kHeaders[] = "Subject: Lunch\r\nX-Location: Room 4\r\n";
const char kSeparator[] = "------------677C251E373B0A\r\n";

// A multipart message with the given parts between its boundaries, and what follows them.
std::string Multipart(const std::string& parts, const std::string& closing = "--B1--\r\n") {
    return "Subject: M\r\nContent-Type: multipart/mixed; boundary=\"B1\"\r\n\r\n"
           "preamble\r\n" +
           parts + closing;
}
const char kPlainPart[] = "--B1\r\nContent-Type: text/plain\r\n\r\nbody line\r\n";
const char kOtherPart[] = "--B1\r\nContent-Type: image/png\r\n\r\nxyz\r\n";

std::string ValueOf(const std::string& message, const char* element) {
    std::string value = "(unset)";
    EXPECT_TRUE(ItemMessageValue(message, element, &value)) << element;
    return value;
}

std::string Replaced(const std::string& message, const char* element, const char* value) {
    std::string out;
    EXPECT_TRUE(ReplaceItemMessageValue(message, element, value, &out)) << element;
    return out;
}

TEST(ItemMessageTest, ASinglePartItemBecomesTwoPartsAndReadsBack) {
    // Line breaks of the old body come out as CR LF, a last line without one gets one.
    const std::string single = std::string(kHeaders) + "\r\nfirst\nsecond";
    const std::string multipart = Replaced(single, "VCALENDAR", "BEGIN:VCALENDAR\r\nEND:VCALENDAR");
    EXPECT_EQ(std::string(kHeaders) +
                  "Content-Type: multipart/mixed;\r\n"
                  "\tboundary=\"----------677C251E373B0A\"\r\n"
                  "\r\n" +
                  kSeparator +
                  "Content-Type: text/plain; charset=utf-8\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "\r\n"
                  "first\r\nsecond\r\n" +
                  kSeparator +
                  "Content-Type: text/calendar; charset=utf-8\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "\r\n"
                  "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"
                  "------------677C251E373B0A--\r\n",
              multipart);
    EXPECT_EQ("first\r\nsecond\r\n", ValueOf(multipart, "BODY"));
    EXPECT_EQ("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", ValueOf(multipart, "vcalendar"));
    // Writing either again replaces only its own part.
    const std::string again = Replaced(multipart, "BODY", "new body");
    EXPECT_EQ("new body\r\n", ValueOf(again, "BODY"));
    EXPECT_EQ("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", ValueOf(again, "VCALENDAR"));
    const std::string third = Replaced(again, "VCALENDAR", "V2");
    EXPECT_EQ("new body\r\n", ValueOf(third, "BODY"));
    EXPECT_EQ("V2\r\n", ValueOf(third, "VCALENDAR"));
    EXPECT_EQ(0u, third.find(std::string(kHeaders) + "Content-Type: multipart/mixed;\r\n"));
}

TEST(ItemMessageTest, SinglePartItems) {
    const std::string single = std::string(kHeaders) + "\r\nline one\nline two\r\n";
    EXPECT_EQ("line one\nline two\r\n", ValueOf(single, "BODY"));  // as stored
    EXPECT_EQ("", ValueOf(single, "VCALENDAR"));
    EXPECT_EQ(std::string(kHeaders) + "\r\nreplaced", Replaced(single, "BODY", "replaced"));
    // Only headers: no body, and a body written after them.
    EXPECT_EQ("", ValueOf("Subject: x\n", "BODY"));
    EXPECT_EQ("Subject: x\r\n\r\nb", Replaced("Subject: x\n", "BODY", "b"));
    EXPECT_EQ("", ValueOf("", "BODY"));
    std::string out = "kept";
    EXPECT_FALSE(ItemMessageValue(single, "SUBJECT", &out));
    EXPECT_FALSE(ReplaceItemMessageValue(single, "SUBJECT", "x", &out));
    EXPECT_EQ("kept", out);
}

TEST(ItemMessageTest, APartOfAMissingTypeIsAddedBeforeTheClosingBoundary) {
    const std::string message =
        Multipart(std::string(kPlainPart) + kOtherPart, "--B1--\r\nend\r\n");
    EXPECT_EQ("", ValueOf(message, "VCALENDAR"));
    const std::string added = Replaced(message, "VCALENDAR", "CAL");
    EXPECT_EQ(Multipart(std::string(kPlainPart) + kOtherPart +
                            "--B1\r\nContent-Type: text/calendar; charset=utf-8\r\n"
                            "Content-Transfer-Encoding: 7bit\r\n\r\nCAL\r\n",
                        "--B1--\r\nend\r\n"),
              added);
    EXPECT_EQ("CAL\r\n", ValueOf(added, "VCALENDAR"));
    EXPECT_EQ("body line\r\n", ValueOf(added, "BODY"));
    // Without a closing boundary the new part closes the message.
    const std::string unclosed = Multipart(kOtherPart, "");
    const std::string body = Replaced(unclosed, "BODY", "B");
    EXPECT_EQ(
        Multipart(std::string(kOtherPart) + "--B1\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                            "Content-Transfer-Encoding: 7bit\r\n\r\nB\r\n"),
        body);
    EXPECT_EQ("B\r\n", ValueOf(body, "BODY"));
}

TEST(ItemMessageTest, MultipartItemsAreReadByTheirParts) {
    // The part's headers decide its type, not a mention of the type in another part's content.
    const std::string message =
        Multipart("--B1\r\nContent-Type: text/calendar\r\n\r\nsee text/plain\nCAL\r\n" +
                  std::string(kPlainPart));
    EXPECT_EQ("see text/plain\nCAL\r\n", ValueOf(message, "VCALENDAR"));
    EXPECT_EQ("body line\r\n", ValueOf(message, "BODY"));
    // The other parts are copied line by line, each ended with CR LF.
    const std::string replaced = Replaced(message, "BODY", "x");
    EXPECT_EQ("see text/plain\r\nCAL\r\n", ValueOf(replaced, "VCALENDAR"));
    EXPECT_EQ("x\r\n", ValueOf(replaced, "BODY"));
    // A multipart item without a boundary has no parts to find, and none to write.
    const std::string nameless =
        "Content-Type: multipart/mixed\r\n\r\n--x\r\ntext/plain\r\n\r\nb\r\n";
    EXPECT_EQ("", ValueOf(nameless, "BODY"));
    std::string out;
    EXPECT_FALSE(ReplaceItemMessageValue(nameless, "BODY", "b", &out));
}

// Item files in a folder.
class ItemFileTest : public ::testing::Test {
  protected:
    ~ItemFileTest() override { SetItemFileReplace(nullptr); }

    void Put(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(testing::WriteFileBytes(folder_.Join(name), bytes));
    }
    // The write's result; what it printed goes to printed_.
    int Write(const char* id, const char* element, const char* value) {
        testing::KeptDiagnostics kept;
        int result = WriteItemFileValue(folder_.path().c_str(), id, element, value);
        printed_ = kept.Take();
        return result;
    }
    std::string Read(const char* id, const char* element, int expected = 1) {
        std::string value;
        EXPECT_EQ(expected, ReadItemFileValue(folder_.path().c_str(), id, element, &value));
        return value;
    }

    testing::TempFolder folder_;
    std::string printed_;
    const std::string item_ = std::string(kHeaders) + "\r\nbody\r\n";
};

// A write goes through a temporary copy that replaces the item file; when it fails, the item file
// stays whole and the copy goes. (A temporary name taken by a folder:
// tests/tools/cvcal_test.sh.)
TEST_F(ItemFileTest, AWriteReplacesTheItemFileWholeOrNotAtAll) {
    Put("Item0", item_);
    EXPECT_EQ(1, Write("Item0", "VCALENDAR", "CAL"));
    EXPECT_EQ("", printed_);
    EXPECT_FALSE(testing::PathExists(folder_.Join("_Item0")));
    EXPECT_EQ("body\r\n", Read("Item0", "BODY"));
    EXPECT_EQ("CAL\r\n", Read("Item0", "VCALENDAR"));
    // The copy is written but cannot replace the item file.
    Put("Item2", item_);
    Put("_Item2", "left by an earlier attempt");
    SetItemFileReplace([](const char*, const char*) { return false; });
    EXPECT_EQ(0, Write("Item2", "VCALENDAR", "CAL"));
    EXPECT_EQ("Warning: Unable to update message body for file " + folder_.Join("_Item2") + "\n",
              printed_);
    EXPECT_EQ(item_, testing::ReadFileOrEmpty(folder_.Join("Item2")));
    EXPECT_FALSE(testing::PathExists(folder_.Join("_Item2")));
    // No item file: nothing is made.
    SetItemFileReplace(nullptr);
    EXPECT_EQ(0, Write("Missing", "BODY", "new"));
    EXPECT_FALSE(testing::PathExists(folder_.Join("Missing")) ||
                 testing::PathExists(folder_.Join("_Missing")));
}

TEST_F(ItemFileTest, IdsThatAreNotItemNamesOfTheFolderAreRefused) {
    const std::vector<std::pair<const char*, std::string>> files = {
        {"_index.xml", "<BASEELEMENT/>"},
        {"_CHANGE.DTY", "x"},
        {"Y05.CAL", "1\t2\tY05.CAL"},
        {"index.xml", item_},
        {"CHANGE.DTY", item_}};
    for (const auto& [name, bytes] : files) Put(name, bytes);
    for (const char* id : {"index.xml", "CHANGE.DTY", "_index.xml", "Y05.CAL", "..", ".", "",
                           "..\\Item1", "a/b", "c:x", "*"}) {
        EXPECT_EQ(0, Write(id, "BODY", "new")) << id;
        EXPECT_EQ("", printed_);
    }
    EXPECT_EQ(0, WriteItemFileValue("", "Item1", "BODY", "new"));  // not the drive's root
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(bytes, testing::ReadFileOrEmpty(folder_.Join(name)));
    Put("Item1", item_);
    Read("..\\Item1", "BODY", 0);
    Read("Item1", "SUBJECT", 0);
    Read("Missing", "BODY", 0);
}

}  // namespace
}  // namespace cv
