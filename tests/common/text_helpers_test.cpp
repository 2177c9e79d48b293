#include "common/text_helpers.h"
#include "common/delimited_text.h"

#include <gtest/gtest.h>

#include <string>

namespace cv {
namespace {

TEST(CountDelimitedFields, CountsSeparatorsAfterTheFirstCharacter) {
    EXPECT_EQ(3, CountDelimitedFields("a\tb\tc", "\t"));
    EXPECT_EQ(0, CountDelimitedFields("", "\t"));
    EXPECT_EQ(1,
              CountDelimitedFields("\ta", "\t"));  // a separator at the very start does not count
    EXPECT_EQ(2, CountDelimitedFields("Tue, 07 Mar", ","));
    EXPECT_EQ(3,
              CountDelimitedFields("a::b", ":"));  // each search starts one past the previous hit
    EXPECT_EQ(2, CountDelimitedFields("abab", "ab"));
}

TEST(CountDelimitedFields, StopsAtOneThousand) {
    std::string many(5000, ',');
    EXPECT_EQ(1000, CountDelimitedFields(("x" + many).c_str(), ","));
}

TEST(FindNoCase, FindsFirstOccurrenceIgnoringCase) {
    const char* text = "X-Subject: Hello subject:";
    EXPECT_EQ(text + 2, FindNoCase(text, "SUBJECT"));
    EXPECT_EQ(text, FindNoCase(text, "x-sub"));
    EXPECT_EQ(nullptr, FindNoCase(text, "absent"));
    EXPECT_EQ(nullptr, FindNoCase(text, ""));
    EXPECT_EQ(nullptr, FindNoCase(text, nullptr));
    EXPECT_EQ(nullptr, FindNoCase("ab", "abc"));
}

TEST(CopyBounded, CutsAndReportsWhenTheTextDoesNotFit) {
    char dest[260];
    std::string fits(259, 'a');
    EXPECT_NE(0, CopyBounded(dest, fits.c_str(), sizeof dest));
    EXPECT_EQ(fits, dest);
    std::string too_long(260, 'b');
    EXPECT_EQ(0, CopyBounded(dest, too_long.c_str(), sizeof dest));
    EXPECT_EQ(std::string(259, 'b'), dest);
}

TEST(AppendBounded, AppendsWholeOrAsMuchAsFits) {
    char dest[8] = "abc";
    EXPECT_NE(0, AppendBounded(dest, "def", sizeof dest));
    EXPECT_STREQ("abcdef", dest);
    EXPECT_EQ(0, AppendBounded(dest, "ghi", sizeof dest));
    EXPECT_STREQ("abcdefg", dest);
    EXPECT_EQ(0, AppendBounded(dest, "x", sizeof dest));  // already full
    EXPECT_STREQ("abcdefg", dest);
}

TEST(FormatBounded, RefusesToCut) {
    char out[8];
    EXPECT_TRUE(FormatBounded(out, sizeof out, "%s\\%s", "ab", "cd"));
    EXPECT_STREQ("ab\\cd", out);
    EXPECT_FALSE(FormatBounded(out, sizeof out, "%s\\%s", "abcd", "efg"));
    EXPECT_STREQ("", out);
}

TEST(CompareNoCase, IgnoresLetterCase) {
    EXPECT_EQ(0, CompareNoCase("ABC", "abc"));
    EXPECT_LT(CompareNoCase("abc", "abd"), 0);
    EXPECT_NE(0, CompareNoCase("abc", "ab"));
}

}  // namespace
}  // namespace cv
