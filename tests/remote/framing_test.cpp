#include "remote/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/diagnostics.h"
#include "tests/support/wire.h"

namespace cv {
namespace {

using Bytes = std::string;  // any bytes

// A request buffer as the exports hold one.
struct Buffer {
    std::vector<char> text = std::vector<char>(kRemoteBufferSize, '\0');
    char* get() { return text.data(); }
    std::string str() const { return text.data(); }
};

int AddQuietly(Buffer& request, int number, const Bytes& data) {
    testing::KeptDiagnostics quiet;
    return AddRequestParameter(request.get(), number, data.data(), data.size());
}

int ReadQuietly(const std::string& reply, int number, void* destination, size_t size) {
    testing::KeptDiagnostics quiet;
    return ReadReplyParameter(reply.c_str(), number, destination, size);
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size, '\0');
    for (auto& b : data) b = static_cast<char>(rng());
    return data;
}

TEST(Framing, ParametersStandInTheOrderAddedAndReadBackAsSent) {
    Buffer request;
    std::fill(request.text.begin(), request.text.end() - 1, 'x');  // whatever was there before
    ASSERT_EQ(1, BuildExecRequest(request.get(), "AppointmentEdit"));
    EXPECT_EQ(testing::ExecRequest("AppointmentEdit", ""), request.str());
    const Bytes first = RandomBytes(648, 1), second = RandomBytes(648, 2);
    EXPECT_EQ(1, AddQuietly(request, 1, first));
    EXPECT_EQ(1, AddQuietly(request, 2, second));
    const std::string text = request.str();
    EXPECT_EQ(testing::ExecRequest("AppointmentEdit",
                                   testing::Element(1, first) + testing::Element(2, second)),
              text);
    // The request's elements have the form of a reply's.
    Bytes back(648, '\xFF');
    EXPECT_EQ(1, ReadQuietly(text, 2, &back[0], back.size()));
    EXPECT_EQ(second, back);
    EXPECT_EQ(1, ReadQuietly(text, 1, &back[0], back.size()));
    EXPECT_EQ(first, back);
}

TEST(Framing, RequestThatWouldNotFitIsRefusedWhole) {
    // A list context and a list item of random bytes: about 14,000 and 23,000 characters.
    Buffer request;
    BuildExecRequest(request.get(), "AppointmentListItemFindNext");
    EXPECT_EQ(1, AddQuietly(request, 1, RandomBytes(5388, 1)));
    const std::string before = request.str();
    EXPECT_EQ(0, AddQuietly(request, 2, RandomBytes(8780, 2)));
    EXPECT_EQ(before, request.str());
    EXPECT_EQ(1, AddQuietly(request, 2, Bytes(8780, 0)));  // a small one still fits
}

TEST(Framing, UnpackableParameterGoesOutEmptyAndAMissingListIsPrinted) {
    Buffer request;
    BuildExecRequest(request.get(), "AppointmentAdd");
    testing::KeptDiagnostics kept;
    EXPECT_EQ(1, AddRequestParameter(request.get(), 1, RandomBytes(16000, 3).data(), 16000));
    EXPECT_NE(std::string::npos, kept.Take().find("Warning: Serialising returned empty buffer\n"));
    EXPECT_EQ(testing::ExecRequest("AppointmentAdd", "<PARAMETER1 SIZE=16000></PARAMETER1>"),
              request.str());

    std::strcpy(request.get(), "<DATA><METHOD>EXEC</METHOD></DATA>");
    EXPECT_EQ(1, AddRequestParameter(request.get(), 1, "abc", 3));
    EXPECT_NE(std::string::npos, kept.Take().find("{<DATA><METHOD>EXEC</METHOD></DATA>}\n"));
    EXPECT_EQ("<DATA><METHOD>EXEC</METHOD></DATA>", request.str());
}

TEST(Framing, InsertBeforeMarker) {
    struct Case {
        const char *text, *marker, *insert;
        size_t out_size;
        int result;
        const char* out;  // "kept": not written
    };
    const Case cases[] = {
        {"a<M>b<M>", "<M>", "X", 32, 1, "aX<M>b<M>"}, {"a<N>b", "<M>", "X", 32, 0, "a<N>b"},
        {"a<M>", "<M>", "XY", 6, 0, "kept"},  // needs 7 with the NUL
        {"a<M>", "<M>", "XY", 7, 1, "aXY<M>"},        {"a<N>b", "<M>", "X", 5, 0, "kept"},
    };
    for (const Case& c : cases) {
        char out[32] = "kept";
        EXPECT_EQ(c.result, InsertBeforeMarker(c.text, c.marker, c.insert, out, c.out_size))
            << c.text << " " << c.out_size;
        EXPECT_STREQ(c.out, out) << c.text << " " << c.out_size;
    }
}

TEST(Framing, ReplyParametersAreFoundByTheirPiecesOrAreAbsent) {
    const std::string one = "<PARAMETER1 SIZE=4>AQAAAAEB</PARAMETER1>";
    const std::string ten = "<PARAMETER10 SIZE=4>AAAAAQAA</PARAMETER10>";
    const std::string two = "<PARAMETER2 SIZE=4>AAAAAQAA</PARAMETER2>";
    struct Case {
        std::string reply;
        int number;
        const char* content;  // null: absent
        long size;
        uint32_t value;  // what ReadReplyParameter gives, or 7 (left alone)
    };
    const Case cases[] = {
        {testing::SuccessReply("<PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER0>"), 0, "AQAAAAEB", 4, 1},
        // Extra attributes: the size text runs up to ">", and its leading number counts.
        {"<PARAMETER1 SIZE=4 TYPE=\"record\">AAAAAQAA</PARAMETER1>", 1, "AAAAAQAA", 4, 0},
        {"<PARAMETER1 SIZE=4>AQAAAAEB</PARAMETER1>", 2, nullptr, 0, 7},
        {"<PARAMETER0 SIZE=4>AQAAAAEB", 0, nullptr, 0, 7},               // no closing text
        {"<PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER0", 0, nullptr, 0, 7},   // closing without ">"
        {"<PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER1>", 0, nullptr, 0, 7},  // another's closing
        {"<PARAMETER0>AQAAAAEB</PARAMETER0>", 0, nullptr, 0, 7},         // no SIZE=
        {"<PARAMETER0 SIZE=4", 0, nullptr, 0, 7},                        // no ">"
        {"<PARAM0 SIZE=4>AQAAAAEB</PARAM0>", 0, nullptr, 0, 7},
        // Numbers are not mistaken for longer ones, in either order.
        {one + ten, 1, "AQAAAAEB", 4, 1},
        {one + ten, 10, "AAAAAQAA", 4, 0},
        {ten + one, 1, "AQAAAAEB", 4, 1},
        {ten + one, 10, "AAAAAQAA", 4, 0},
        {two + one, 0, nullptr, 0, 7},
        {two + one, 2, "AAAAAQAA", 4, 0},
        // At most 259 characters of size text.
        {"<PARAMETER0 SIZE=4" + std::string(258, ' ') + ">AQAAAAEB</PARAMETER0>", 0, "AQAAAAEB", 4,
         1},
        {"<PARAMETER0 SIZE=4" + std::string(259, ' ') + ">AQAAAAEB</PARAMETER0>", 0, nullptr, 0, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 80) + " #" + std::to_string(c.number));
        char out[64] = "untouched";
        long size = -1;
        EXPECT_EQ(c.content != nullptr,
                  ExtractReplyParameter(c.reply.c_str(), c.number, out, sizeof out, &size) == 1);
        EXPECT_STREQ(c.content ? c.content : "untouched", out);
        EXPECT_EQ(c.size, size);
        uint32_t value = 7;
        EXPECT_EQ(c.content != nullptr, ReadQuietly(c.reply, c.number, &value, sizeof value) == 1);
        EXPECT_EQ(c.value, value);
    }
    // Content that does not fit the caller's buffer, or does not decode, leaves it alone.
    char out[4] = "abc";
    EXPECT_EQ(0, ExtractReplyParameter(cases[0].reply.c_str(), 0, out, sizeof out, nullptr));
    EXPECT_STREQ("abc", out);
    Bytes record(648, 'Z');
    for (const char* reply :
         {"<PARAMETER1 SIZE=648>AQAA*AEB</PARAMETER1>", "<PARAMETER1 SIZE=648>AQAAAAE</PARAMETER1>",
          "<PARAMETER1 SIZE=648>//8=</PARAMETER1>"}) {
        EXPECT_EQ(0, ReadQuietly(reply, 1, &record[0], record.size())) << reply;
    }
    EXPECT_EQ(Bytes(648, 'Z'), record);
}

}  // namespace
}  // namespace cv
