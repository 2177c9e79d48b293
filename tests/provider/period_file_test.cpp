#include "store/period_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_store.h"
#include "common/delimited_text.h"

namespace cv {
namespace {

int32_t Utc(int year, int month, int day, int hour = 0, int minute = 0) {
    // Days from civil, for the test's own reference.
    int y = year - (month <= 2);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return static_cast<int32_t>(days * 86400 + hour * 3600 + minute * 60);
}

TEST(GetPeriodName, PicksTheSmallestPeriodHoldingBothDates) {
    EXPECT_EQ("Y09M03D15", GetPeriodName(Utc(2009, 3, 15, 10), Utc(2009, 3, 15, 11)));
    EXPECT_EQ("Y09M03", GetPeriodName(Utc(2009, 3, 15), Utc(2009, 3, 17)));
    EXPECT_EQ("Y9", GetPeriodName(Utc(2009, 3, 15), Utc(2009, 4, 2)));  // year level: no padding
    EXPECT_EQ("Y12", GetPeriodName(Utc(2012, 3, 15), Utc(2012, 4, 2)));
    EXPECT_EQ("Y", GetPeriodName(Utc(2009, 12, 31), Utc(2010, 1, 1)));
    EXPECT_EQ("Y26M12D07", GetPeriodName(Utc(2026, 12, 7, 0, 0), Utc(2026, 12, 7, 23, 59)));
}

TEST(GetPeriodName, UsesUtcDatesForEveryThirtyTwoBitTime) {
    EXPECT_EQ("Y-30M01D01", GetPeriodName(0, 3600));
    EXPECT_EQ("Y-31M12D31", GetPeriodName(-1, -1));  // before 1970: still a date
    EXPECT_EQ("Y-1", GetPeriodName(Utc(1999, 1, 5), Utc(1999, 2, 5)));
    EXPECT_EQ("Y-99M12D13", GetPeriodName(INT32_MIN, INT32_MIN));  // 1901-12-13
    EXPECT_EQ("Y38M01D19", GetPeriodName(INT32_MAX, INT32_MAX));
    EXPECT_EQ("Y", GetPeriodName(INT32_MIN, INT32_MAX));
}

TEST(DelimitedField, SplitsOnEveryOccurrenceOfTheDelimiter) {
    char out[32] = "untouched";
    EXPECT_EQ(1, DelimitedField("no-tab", "\t", 1, out, sizeof out));
    EXPECT_STREQ("no-tab", out);
    EXPECT_EQ(1, DelimitedField("no-tab", "\t", 0, out, sizeof out));
    EXPECT_STREQ("no-tab", out);
    std::strcpy(out, "untouched");
    EXPECT_EQ(0, DelimitedField("no-tab", "\t", 2, out, sizeof out));
    EXPECT_STREQ("untouched", out);

    EXPECT_EQ(1, DelimitedField("1\t2\tid", "\t", 3, out, sizeof out));
    EXPECT_STREQ("id", out);
    EXPECT_EQ(1, DelimitedField("1\t\tid", "\t", 2, out, sizeof out));
    EXPECT_STREQ("", out);
    EXPECT_EQ(1, DelimitedField("1\t2", "\t", 5, out, sizeof out));  // beyond the last field
    EXPECT_STREQ("", out);
    EXPECT_EQ(1, DelimitedField("a, b, c", ", ", 2, out, sizeof out));
    EXPECT_STREQ("b", out);
    EXPECT_EQ(1, DelimitedField("Y09M03.CAL", ".", 1, out, sizeof out));
    EXPECT_STREQ("Y09M03", out);
    char small[4];
    EXPECT_EQ(1, DelimitedField("abcdef\tx", "\t", 1, small, sizeof small));
    EXPECT_STREQ("abc", small);  // cut to its buffer
}

TEST(ParsePeriodLine, ReadsMissingAndMalformedFieldsAsZeroAndEmpty) {
    PeriodLine full = ParsePeriodLine("-5\t+12\tABC");
    EXPECT_EQ(-5, full.start);
    EXPECT_EQ(12, full.finish);
    EXPECT_STREQ("ABC", full.id);
    PeriodLine one = ParsePeriodLine("42");
    EXPECT_EQ(42, one.start);
    EXPECT_EQ(0, one.finish);
    EXPECT_STREQ("", one.id);
    PeriodLine two = ParsePeriodLine("x\t 7z");
    EXPECT_EQ(0, two.start);
    EXPECT_EQ(7, two.finish);
    EXPECT_STREQ("", two.id);
    PeriodLine huge = ParsePeriodLine("99999999999\t-99999999999\tid\textra");
    EXPECT_EQ(INT32_MAX, huge.start);
    EXPECT_EQ(INT32_MIN, huge.finish);
    EXPECT_STREQ("id", huge.id);
    // A number never reads on into the next field, though blanks before it are skipped.
    PeriodLine empty_first = ParsePeriodLine("\t5\t\t9");
    EXPECT_EQ(0, empty_first.start);
    EXPECT_EQ(5, empty_first.finish);
    EXPECT_STREQ("", empty_first.id);
    PeriodLine blanks = ParsePeriodLine(" 7\r\t\v8\t x ");
    EXPECT_EQ(7, blanks.start);
    EXPECT_EQ(8, blanks.finish);
    EXPECT_STREQ(" x ", blanks.id);
}

TEST(MatchesId, EmptyMatchesAllAndCaseIsIgnored) {
    EXPECT_TRUE(MatchesId("ABC", ""));
    EXPECT_TRUE(MatchesId("ABC", "abc"));
    EXPECT_FALSE(MatchesId("ABC", "abcd"));
}

// A rewrite copies the lines that are written as the writer writes them and matches ids without
// parsing: both must agree with parsing, for any bytes a line can hold.
TEST(ViewPeriodPiece, AgreesWithParsingAndWriting) {
    const char alphabet[] = {'0', '1', '9', '-', '+', ' ', '\t', '\r', 'a', 'A', '\0'};
    std::mt19937 random(20261207);
    std::vector<std::string> pieces = {
        "0\t0\tx",          "-0\t1\tx",   "01\t1\tx", "2147483647\t-2147483648\tid",
        "2147483648\t1\tx", "1\t2\tx\ty", "1\t2\t",   "\t\t"};
    for (int i = 0; i < 20000; ++i) {
        std::string piece(random() % 24, ' ');
        for (char& c : piece) c = alphabet[random() % sizeof alphabet];
        pieces.push_back(piece);
    }
    for (const std::string& piece : pieces) {
        PeriodLine line = ParsePeriodLine(piece.c_str());
        PeriodPiece view = ViewPeriodPiece(piece);
        ASSERT_EQ(std::string(line.id), std::string(view.id)) << piece;
        if (piece.find('\0') == std::string::npos) {
            EXPECT_EQ(view.id, ViewPeriodPiece(piece, false).id) << piece;
        }
        PeriodFileWriter writer;
        writer.Add(line.start, line.finish, line.id);
        ASSERT_EQ(writer.content() == piece, view.AsWritten()) << piece;
        EXPECT_EQ(MatchesId(line.id, "aA"), MatchesId(view.id, "aA")) << piece;
    }
}

std::vector<std::string> ReadPieces(const std::string& bytes) {
    testing::TempFolder folder;
    std::string path = folder.Join("P.CAL");
    EXPECT_TRUE(testing::WriteFileBytes(path, bytes));
    // Read piece by piece, as a walk reads, and whole, as a lookup or a change reads: the same
    // pieces either way.
    PeriodFileReader walk(PeriodFileReader::Purpose::kWalk);
    std::vector<std::string> pieces;
    if (!walk.Open(path.c_str())) return {"<cannot open>"};
    std::string_view piece;
    while (walk.Next(&piece)) pieces.emplace_back(piece);
    for (auto purpose : {PeriodFileReader::Purpose::kLookup, PeriodFileReader::Purpose::kChange}) {
        PeriodFileReader whole(purpose);
        std::string_view rest;
        if (!whole.Open(path.c_str()) || !whole.ReadRest(&rest)) return {"<cannot read>"};
        std::vector<std::string> cut;
        while (!rest.empty()) {
            rest.remove_prefix(CutPiece(rest, &piece));
            cut.emplace_back(piece);
        }
        EXPECT_EQ(pieces, cut);
    }
    return pieces;
}

TEST(PeriodFileReader, SplitsLinesAsTextModeReadingDoes) {
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"a", "b", "c"}), ReadPieces("a\r\nb\nc"));
    EXPECT_EQ((V{"a", "", "b"}), ReadPieces("a\r\n\r\nb\r\n"));
    EXPECT_EQ((V{"a\rb"}), ReadPieces("a\rb"));  // a lone CR is data
    EXPECT_EQ(V{}, ReadPieces(""));
    std::string long_line(1500, 'x');
    EXPECT_EQ((V{std::string(1023, 'x'), std::string(477, 'x'), "y"}),
              ReadPieces(long_line + "\r\ny"));
    // 1023 characters fill a piece; the line break then comes as an empty piece of its own.
    EXPECT_EQ((V{std::string(1023, 'x'), "", "y"}), ReadPieces(std::string(1023, 'x') + "\r\ny"));
    EXPECT_EQ((V{std::string(1022, 'x'), "y"}), ReadPieces(std::string(1022, 'x') + "\r\ny"));
}

// The common line, cut and viewed at once, as cutting and viewing give it; anything else is left.
TEST(CutCommonLine, AgreesWithCuttingAndViewing) {
    // Lines of the common shape, with something wrong now and then.
    const std::vector<std::string> numbers = {
        "0",  "1",  "907", "2147483647",  "2147483648", "-5", "-2147483648", "-2147483649", "00",
        "-0", "+1", "",    "12345678901", "1 2",        "x",  "1-2",         "7-"};
    const std::vector<std::string> ids = {"id", "", "Id-1", "a\tb", "a\rb", " ", "x\t"};
    const std::vector<std::string> ends = {"\r\n", "\n", "\r\n", "", "\r", "\t\r\n"};
    std::mt19937 random(20261208);
    std::vector<std::string> texts = {std::string(1017, '1') + "\t2\tx\r\n",
                                      std::string(1016, '1') + "\t2\tx\r\n"};
    for (int i = 0; i < 20000; ++i) {
        std::string text = numbers[random() % numbers.size()] + "\t" +
                           numbers[random() % numbers.size()] + "\t" + ids[random() % ids.size()];
        text.append(random() % 48, 'i');  // lines of every length about sixteen-byte steps
        if (random() % 50 == 0) text.append(1000 + random() % 30, 'z');
        text += ends[random() % ends.size()] + "next";
        if (random() % 2) text.append(64, 'n');
        texts.push_back(text);
    }
    int common = 0;
    for (const std::string& text : texts) {
        std::string_view piece, fast;
        PeriodPiece view;
        size_t consumed = CutCommonLine(text, &fast, &view);
        if (consumed == 0) continue;
        ++common;
        ASSERT_EQ(CutPiece(text, &piece), consumed) << text;
        ASSERT_EQ(piece, fast) << text;
        PeriodPiece slow = ViewPeriodPiece(piece);
        ASSERT_EQ(slow.id, view.id) << text;
        ASSERT_TRUE(slow.AsWritten()) << text;
        ASSERT_TRUE(view.AsWritten()) << text;
    }
    EXPECT_LT(500, common);  // the texts try the common line often enough
    std::string_view piece;
    PeriodPiece view;
    EXPECT_EQ(8u, CutCommonLine("1\t2\tid\r\nnext", &piece, &view));
    EXPECT_EQ(0u, CutCommonLine("1\t2\tid", &piece, &view));  // the end of the file: left
}

// Pieces copied as written come out as lines joined by CR LF, however they were separated in the
// text they were cut from, and whatever is added between them.
TEST(PeriodFileWriter, CopiesPiecesAsLinesJoinedByCrLf) {
    const std::string text =
        "1\t2\ta\r\n3\t4\tb\n5\t6\tc\r\n\r\n7\t8\td\r\n" + std::string(1030, 'x');
    std::vector<std::string_view> pieces;
    for (std::string_view rest = text; !rest.empty();) {
        std::string_view piece;
        rest.remove_prefix(CutPiece(rest, &piece));
        if (!piece.empty()) pieces.push_back(piece);
    }
    ASSERT_EQ(6u, pieces.size());  // the long line comes in two pieces
    PeriodFileWriter writer;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k == 2) writer.Add(9, 9, "new");
        if (k != 3) writer.AddAsWritten(pieces[k]);
    }
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb\r\n9\t9\tnew\r\n5\t6\tc\r\n" + std::string(1023, 'x') + "\r\n" +
                  std::string(7, 'x'),
              writer.content());
    EXPECT_EQ(6u, writer.lines());
}

TEST(PeriodFileWriter, JoinsLinesWithCrLfAndNoTrailingBreak) {
    PeriodFileWriter writer;
    EXPECT_EQ("", writer.content());
    writer.Add(1, 2, "a");
    EXPECT_EQ("1\t2\ta", writer.content());
    writer.Add(-3, 4, "");
    EXPECT_EQ("1\t2\ta\r\n-3\t4\t", writer.content());
    EXPECT_EQ(2u, writer.lines());
    writer.Add(INT32_MIN, INT32_MAX, "b");
    EXPECT_EQ("1\t2\ta\r\n-3\t4\t\r\n-2147483648\t2147483647\tb", writer.content());
}

}  // namespace
}  // namespace cv
