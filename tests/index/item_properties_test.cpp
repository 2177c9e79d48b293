// The body and the vCalendar text of item files: the single-part and multipart forms, and writes
// that must leave the item file whole whenever they fail.
#include "index/item_properties.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

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
    EXPECT_TRUE(IsItemFileElement("Body"));
    EXPECT_FALSE(IsItemFileElement("STARTIME"));
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

    std::string PathOf(const std::string& name) const { return folder_.Join(name); }
    void Put(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(testing::WriteFileBytes(PathOf(name), bytes));
    }
    // The write's result; what it printed goes to printed_.
    int Write(const char* id, const char* element, const char* value) {
        ::testing::internal::CaptureStdout();
        int result = WriteItemFileValue(folder_.path().c_str(), id, element, value);
        printed_ = ::testing::internal::GetCapturedStdout();
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
// tests/tools/cvcal_index_test.sh.)
TEST_F(ItemFileTest, AWriteReplacesTheItemFileWholeOrNotAtAll) {
    Put("Item0", item_);
    EXPECT_EQ(1, Write("Item0", "VCALENDAR", "CAL"));
    EXPECT_EQ("", printed_);
    EXPECT_FALSE(testing::PathExists(PathOf("_Item0")));
    EXPECT_EQ("body\r\n", Read("Item0", "BODY"));
    EXPECT_EQ("CAL\r\n", Read("Item0", "VCALENDAR"));

    // The copy is written but cannot replace the item file.
    Put("Item2", item_);
    Put("_Item2", "left by an earlier attempt");
    SetItemFileReplace([](const char*, const char*) { return false; });
    EXPECT_EQ(0, Write("Item2", "VCALENDAR", "CAL"));
    EXPECT_EQ("Warning: Unable to update message body for file " + PathOf("_Item2") + "\n",
              printed_);
    EXPECT_EQ(item_, testing::ReadFileOrEmpty(PathOf("Item2")));
    EXPECT_FALSE(testing::PathExists(PathOf("_Item2")));

    // No item file: nothing is made.
    SetItemFileReplace(nullptr);
    EXPECT_EQ(0, Write("Missing", "BODY", "new"));
    EXPECT_FALSE(testing::PathExists(PathOf("Missing")) || testing::PathExists(PathOf("_Missing")));
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
        EXPECT_EQ(bytes, testing::ReadFileOrEmpty(PathOf(name)));
    Put("Item1", item_);
    Read("..\\Item1", "BODY", 0);
    Read("Item1", "SUBJECT", 0);
    Read("Missing", "BODY", 0);
}

}  // namespace
}  // namespace cv
