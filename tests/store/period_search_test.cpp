#include "store/period_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "store/period_file.h"

namespace cv {
namespace {

// What the search must give: every piece cut and viewed in turn, the last one with the id.
bool ViewEveryPiece(std::string_view text, const char* id, std::string_view* found) {
    bool any = false;
    while (!text.empty()) {
        std::string_view piece;
        text.remove_prefix(CutPiece(text, &piece));
        if (!piece.empty() && MatchesId(ViewPeriodPiece(piece).id, id)) {
            *found = piece;
            any = true;
        }
    }
    return any;
}

// The piece found, as an offset into the text (the same piece, not only the same bytes), or -1.
long Found(const std::string& text, const char* id) {
    std::string_view piece;
    if (!FindLastPieceWithId(text, id, &piece)) return -1;
    return static_cast<long>(piece.data() - text.data());
}

long Expected(const std::string& text, const char* id) {
    std::string_view piece;
    if (!ViewEveryPiece(text, id, &piece)) return -1;
    return static_cast<long>(piece.data() - text.data());
}

TEST(FindLastPieceWithId, TakesTheLastLineWhoseIdMatchesWithoutRegardToCase) {
    const std::string text = "1\t2\tab-7\r\n3\t4\tAB-7\r\n5\t6\tab-70\r\n7\t8\txab-7";
    std::string_view piece;
    ASSERT_TRUE(FindLastPieceWithId(text, "aB-7", &piece));
    EXPECT_EQ("3\t4\tAB-7", piece);
    EXPECT_FALSE(FindLastPieceWithId(text, "ab-8", &piece));
    EXPECT_FALSE(FindLastPieceWithId(text, "b-7", &piece));  // ids are whole fields
    // Digits match only themselves; an id without digits is anchored on a letter.
    ASSERT_TRUE(FindLastPieceWithId("1\t2\tQRS\r\n3\t4\tqrs\r\n5\t6\tqrt", "Qrs", &piece));
    EXPECT_EQ("3\t4\tqrs", piece);
}

TEST(FindLastPieceWithId, SeesLinesAsTheReaderCutsThem) {
    // The id as a third field followed by a fourth, before a NUL, after a lone CR at the end of
    // the file, and in the second piece of a line too long for one.
    const std::string four = "1\t2\tid-1\textra";
    const std::string nul = std::string("1\t2\tid-1\0tail", 13);
    const std::string long_line = std::string(1023, 'x') + "9\t9\tid-1";
    for (const std::string& line : {four, nul, long_line}) {
        std::string text = "0\t0\tother-1\r\n" + line + "\r\n0\t0\tother-2";
        EXPECT_EQ(Expected(text, "id-1"), Found(text, "id-1")) << line;
        EXPECT_NE(-1, Found(text, "id-1")) << line;
    }
    // Where a piece is cut at 1023 characters, the id is whole in the first piece only.
    std::string cut = std::string(1016, 'y') + "\t\tID-12" + "345\r\n";
    ASSERT_EQ(1023u, cut.find("345"));
    EXPECT_EQ(0, Found(cut, "id-12"));
    EXPECT_EQ(-1, Found(cut, "id-12345"));
    EXPECT_EQ(-1, Found("1\t2\tid-1\r", "id-1"));  // a CR at the end of the file is data
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
            ASSERT_EQ(Expected(text, id), Found(text, id)) << "round " << round << " id " << id;
        }
    }
}

}  // namespace
}  // namespace cv
