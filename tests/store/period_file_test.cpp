// Period files as the store reads, searches and writes them, line by line.
#include "store/period_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/delimited_text.h"
#include "store/period_search.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

// The smallest period holding both times, by their UTC dates, for every 32-bit time. Two-digit
// years count from 2000.
TEST(GetPeriodName, PicksTheSmallestPeriodHoldingBothDates) {
    struct {
        int32_t start, finish;
        const char* name;
    } cases[] = {
        {1237111200, 1237114800, "Y09M03D15"},  // 2009-03-15 10:00 and 11:00
        {1237075200, 1237248000, "Y09M03"},     // 2009-03-15 and 03-17
        {1237075200, 1238630400, "Y9"},         // 2009-03-15 and 04-02: no padding at year level
        {1331769600, 1333324800, "Y12"},        // 2012-03-15 and 04-02
        {1262217600, 1262304000, "Y"},          // 2009-12-31 and 2010-01-01
        {1796601600, 1796687940, "Y26M12D07"},  // 2026-12-07 00:00 and 23:59
        {0, 3600, "Y-30M01D01"},
        {-1, -1, "Y-31M12D31"},                // before 1970: still a date
        {915494400, 918172800, "Y-1"},         // 1999-01-05 and 02-05
        {INT32_MIN, INT32_MIN, "Y-99M12D13"},  // 1901-12-13
        {INT32_MAX, INT32_MAX, "Y38M01D19"},
        {INT32_MIN, INT32_MAX, "Y"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.name, GetPeriodName(c.start, c.finish)) << c.start;
}

// Field n of a text split on every occurrence of the delimiter, cut to the buffer; 0 (and the
// buffer untouched) only for a field beyond the first of a text without the delimiter.
TEST(DelimitedField, SplitsOnEveryOccurrenceOfTheDelimiter) {
    struct {
        const char* text;
        const char* delimiter;
        int n;
        size_t size;
        int result;
        const char* out;
    } cases[] = {
        {"no-tab", "\t", 1, 32, 1, "no-tab"},    {"no-tab", "\t", 0, 32, 1, "no-tab"},
        {"no-tab", "\t", 2, 32, 0, "untouched"}, {"1\t2\tid", "\t", 3, 32, 1, "id"},
        {"1\t\tid", "\t", 2, 32, 1, ""},         {"1\t2", "\t", 5, 32, 1, ""},
        {"a, b, c", ", ", 2, 32, 1, "b"},        {"Y09M03.CAL", ".", 1, 32, 1, "Y09M03"},
        {"abcdef\tx", "\t", 1, 4, 1, "abc"},
    };
    for (const auto& c : cases) {
        char out[32] = "untouched";
        EXPECT_EQ(c.result, DelimitedField(c.text, c.delimiter, c.n, out, c.size)) << c.text;
        EXPECT_STREQ(c.out, out) << c.text << " " << c.n;
    }
}

// Missing and malformed fields read as zero and empty; a number never reads on into the next
// field, though blanks before it are skipped; numbers beyond 32 bits are clamped.
TEST(ParsePeriodLine, ReadsMissingAndMalformedFieldsAsZeroAndEmpty) {
    struct {
        const char* text;
        int32_t start, finish;
        const char* id;
    } cases[] = {
        {"-5\t+12\tABC", -5, 12, "ABC"},
        {"42", 42, 0, ""},
        {"x\t 7z", 0, 7, ""},
        {"99999999999\t-99999999999\tid\textra", INT32_MAX, INT32_MIN, "id"},
        {"\t5\t\t9", 0, 5, ""},
        {" 7\r\t\v8\t x ", 7, 8, " x "},
    };
    for (const auto& c : cases) {
        PeriodLine line = ParsePeriodLine(c.text);
        EXPECT_EQ(c.start, line.start) << c.text;
        EXPECT_EQ(c.finish, line.finish) << c.text;
        EXPECT_STREQ(c.id, line.id) << c.text;
    }
    EXPECT_TRUE(MatchesId("ABC", ""));  // an empty id matches every line
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

// Every piece of a text, cut as the reader cuts it.
std::vector<std::string_view> Pieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::string_view piece; !text.empty(); pieces.push_back(piece)) {
        text.remove_prefix(CutPiece(text, &piece));
    }
    return pieces;
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
        std::vector<std::string_view> cut = Pieces(rest);
        EXPECT_EQ(pieces, std::vector<std::string>(cut.begin(), cut.end()));
    }
    return pieces;
}

TEST(PeriodFileReader, SplitsLinesAsTextModeReadingDoes) {
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"a", "b", "c"}), ReadPieces("a\r\nb\nc"));
    EXPECT_EQ((V{"a", "", "b"}), ReadPieces("a\r\n\r\nb\r\n"));
    EXPECT_EQ((V{"a\rb"}), ReadPieces("a\rb"));  // a lone CR is data
    EXPECT_EQ(V{}, ReadPieces(""));
    EXPECT_EQ((V{std::string(1023, 'x'), std::string(477, 'x'), "y"}),
              ReadPieces(std::string(1500, 'x') + "\r\ny"));
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
        // The line alone, short of the 64 bytes that the wide path needs, is decided alike.
        std::string head = text.substr(0, CutPiece(text, &piece));
        if (text.size() >= 64 && head.size() < 64) {
            PeriodPiece narrow;
            ASSERT_EQ(consumed, CutCommonLine(head, &piece, &narrow)) << text;
        }
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
    // Either number may begin with a minus, however long the text.
    EXPECT_EQ(10u, CutCommonLine("-1\t-2\tid\r\n" + std::string(64, 'n'), &piece, &view));
}

// Pieces copied as written come out as lines joined by CR LF, however they were separated in the
// text they were cut from, and whatever is added between them.
TEST(PeriodFileWriter, CopiesPiecesAsLinesJoinedByCrLf) {
    const std::string text =
        "1\t2\ta\r\n3\t4\tb\n5\t6\tc\r\n\r\n7\t8\td\r\n" + std::string(1030, 'x');
    std::vector<std::string_view> pieces = Pieces(text);
    ASSERT_EQ(7u, pieces.size());  // with the empty line, and the long line in two pieces
    PeriodFileWriter writer;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k == 2) writer.Add(9, 9, "new");
        if (k != 3 && k != 4) writer.AddAsWritten(pieces[k]);
    }
    EXPECT_EQ("1\t2\ta\r\n3\t4\tb\r\n9\t9\tnew\r\n5\t6\tc\r\n" + std::string(1023, 'x') + "\r\n" +
                  std::string(7, 'x'),
              writer.content());
    EXPECT_EQ(6u, writer.lines());
}

// The piece found, as an offset into the text (the same piece, not only the same bytes), or -1:
// by the search, or as the search must find it, viewing every piece in turn.
long Found(std::string_view text, const char* id, bool search = true) {
    std::string_view found;
    if (search) return FindLastPieceWithId(text, id, &found) ? found.data() - text.data() : -1;
    for (std::string_view piece : Pieces(text)) {
        if (!piece.empty() && MatchesId(ViewPeriodPiece(piece).id, id)) found = piece;
    }
    return found.data() ? found.data() - text.data() : -1;
}

// Period files of every kind of damage, against viewing every piece.
TEST(FindLastPieceWithId, AgreesWithViewingEveryPieceOnDamagedFiles) {
    std::vector<std::string> parts = {
        "1000\t2000\t", "id-42", "ID-42", "Id-42x", "xid-42", "\t",    "\r\n",  "\n",    "\r",
        "-5",           "0",     "7",     " ",      "id-4",   "ident", "IDENT", "idenT", "2"};
    parts.emplace_back(1, '\0');
    std::mt19937 random(20261206);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        int count = static_cast<int>(random() % 60);
        for (int k = 0; k < count; ++k) {
            if (random() % 40 == 0) text.append(1000 + random() % 60, 'z');  // near the cut
            text += parts[random() % parts.size()];
        }
        for (const char* id : {"id-42", "Id-42", "ident", "2", "id-4"}) {
            ASSERT_EQ(Found(text, id, false), Found(text, id)) << "round " << round << " id " << id;
        }
    }
    // Where a piece is cut at 1023 characters, the id is whole in the first piece only.
    std::string cut = std::string(1016, 'y') + "\t\tID-12" + "345\r\n";
    EXPECT_EQ(0, Found(cut, "id-12"));
    EXPECT_EQ(-1, Found(cut, "id-12345"));
    EXPECT_EQ(-1, Found("1\t2\tid-1\r", "id-1"));  // a CR at the end of the file is data
}

}  // namespace
}  // namespace cv
