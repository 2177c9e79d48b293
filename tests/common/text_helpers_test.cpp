#include "common/text_helpers.h"
#include "common/delimited_text.h"

#include <gtest/gtest.h>

#include <string>

namespace cv {
namespace {

TEST(TextHelpers, CountDelimitedFieldsSearchesFromOnePastEachHitAndStopsAtOneThousand) {
    EXPECT_EQ(3, CountDelimitedFields("a\tb\tc", "\t"));
    EXPECT_EQ(0, CountDelimitedFields("", "\t"));
    EXPECT_EQ(1, CountDelimitedFields("\ta", "\t"));  // not a separator at the very start
    EXPECT_EQ(3, CountDelimitedFields("a::b", ":"));
    EXPECT_EQ(2, CountDelimitedFields("abab", "ab"));
    EXPECT_EQ(1000, CountDelimitedFields(("x" + std::string(5000, ',')).c_str(), ","));
}

// The bounded writers never overrun: they cut (Copy, Append) or refuse (Format) and say so.
TEST(TextHelpers, BoundedWritersCutOrRefuseAndSaySo) {
    char dest[260];
    EXPECT_NE(0, CopyBounded(dest, std::string(259, 'a').c_str(), sizeof dest));
    EXPECT_EQ(std::string(259, 'a'), dest);
    EXPECT_EQ(0, CopyBounded(dest, std::string(260, 'b').c_str(), sizeof dest));
    EXPECT_EQ(std::string(259, 'b'), dest);
    char small[8] = "abc";
    EXPECT_NE(0, AppendBounded(small, "def", sizeof small));
    EXPECT_STREQ("abcdef", small);
    EXPECT_EQ(0, AppendBounded(small, "ghi", sizeof small));
    EXPECT_STREQ("abcdefg", small);
    EXPECT_EQ(0, AppendBounded(small, "x", sizeof small));  // already full
    EXPECT_STREQ("abcdefg", small);
    EXPECT_TRUE(FormatBounded(small, sizeof small, "%s\\%s", "ab", "cd"));
    EXPECT_STREQ("ab\\cd", small);
    EXPECT_FALSE(FormatBounded(small, sizeof small, "%s\\%s", "abcd", "efg"));
    EXPECT_STREQ("", small);
}

}  // namespace
}  // namespace cv
