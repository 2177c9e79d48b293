#include "remote/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace cv {
namespace {

using Bytes = std::vector<uint8_t>;

// A request or reply buffer as the exports hold one.
struct Buffer {
    std::vector<char> text = std::vector<char>(kRemoteBufferSize, '\0');
    char* get() { return text.data(); }
    std::string str() const { return text.data(); }
};

int AddQuietly(Buffer& request, int number, const Bytes& data) {
    testing::internal::CaptureStdout();
    const int result = AddRequestParameter(request.get(), number, data.data(), data.size());
    testing::internal::GetCapturedStdout();
    return result;
}

int ReadQuietly(const std::string& reply, int number, void* destination, size_t size) {
    testing::internal::CaptureStdout();
    const int result = ReadReplyParameter(reply.c_str(), number, destination, size);
    testing::internal::GetCapturedStdout();
    return result;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

// --- Requests ----------------------------------------------------------------------------------

TEST(Framing, RemoteAppointmentAddRequest) {
    Buffer request;
    std::fill(request.text.begin(), request.text.end(), 'x');  // whatever was there before
    request.text.back() = '\0';
    ASSERT_EQ(1, BuildExecRequest(request.get(), "AppointmentAdd"));
    EXPECT_EQ(
        "<DATA><METHOD>EXEC</METHOD><FUNCTION>AppointmentAdd</FUNCTION><PARAMETERS></PARAMETERS>"
        "</DATA>",
        request.str());

    // 648 zero bytes: runs of 1 to 35 zeros (codes 0, 256 to 289), then one of 18 (code 272).
    EXPECT_EQ(1, AddQuietly(request, 1, Bytes(648, 0)));
    EXPECT_EQ(
        "<DATA><METHOD>EXEC</METHOD><FUNCTION>AppointmentAdd</FUNCTION><PARAMETERS>"
        "<PARAMETER1 SIZE=648>AAAAAQEBAgEDAQQBBQEGAQcBCAEJAQoBCwEMAQ0BDgEPARABEQESARMBFAEVARYBFw"
        "EYARkBGgEbARwBHQEeAR8BIAEhARAB</PARAMETER1></PARAMETERS></DATA>",
        request.str());
}

TEST(Framing, ParametersStandInTheOrderAdded) {
    Buffer request;
    BuildExecRequest(request.get(), "AppointmentEdit");
    Bytes first(648, 0);
    first[0] = 'a';
    Bytes second(648, 0);
    second[0] = 'b';
    EXPECT_EQ(1, AddQuietly(request, 1, first));
    EXPECT_EQ(1, AddQuietly(request, 2, second));
    const std::string text = request.str();
    const size_t list = text.find("<PARAMETERS><PARAMETER1 SIZE=648>");
    const size_t one_end = text.find("</PARAMETER1><PARAMETER2 SIZE=648>");
    const size_t two_end = text.find("</PARAMETER2></PARAMETERS></DATA>");
    ASSERT_NE(std::string::npos, list);
    ASSERT_NE(std::string::npos, one_end);
    ASSERT_NE(std::string::npos, two_end);
    EXPECT_LT(list, one_end);
    EXPECT_LT(one_end, two_end);
    EXPECT_EQ(text.size(), two_end + std::string("</PARAMETER2></PARAMETERS></DATA>").size());

    // The request's elements have the form of a reply's: each reads back as it was sent.
    Bytes back(648, 0xFF);
    EXPECT_EQ(1, ReadQuietly(text, 2, back.data(), back.size()));
    EXPECT_EQ(second, back);
    EXPECT_EQ(1, ReadQuietly(text, 1, back.data(), back.size()));
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
    // A small one still fits.
    EXPECT_EQ(1, AddQuietly(request, 2, Bytes(8780, 0)));
}

TEST(Framing, ParameterWhosePackedTextDoesNotFitGoesOutEmpty) {
    Buffer request;
    BuildExecRequest(request.get(), "AppointmentAdd");
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, AddRequestParameter(request.get(), 1, RandomBytes(16000, 3).data(), 16000));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, printed.find("Warning: Serialising returned empty buffer\n"));
    EXPECT_NE(std::string::npos,
              request.str().find("<PARAMETERS><PARAMETER1 SIZE=16000></PARAMETER1></PARAMETERS>"));
}

TEST(Framing, RequestWithoutParameterListIsPrintedAndLeftAlone) {
    Buffer request;
    std::strcpy(request.get(), "<DATA><METHOD>EXEC</METHOD></DATA>");
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, AddRequestParameter(request.get(), 1, "abc", 3));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ("<DATA><METHOD>EXEC</METHOD></DATA>", request.str());
    EXPECT_NE(std::string::npos, printed.find("{<DATA><METHOD>EXEC</METHOD></DATA>}\n"));
}

TEST(Framing, InsertBeforeMarker) {
    char out[32];
    EXPECT_EQ(1, InsertBeforeMarker("a<M>b<M>", "<M>", "X", out, sizeof out));
    EXPECT_STREQ("aX<M>b<M>", out);
    EXPECT_EQ(0, InsertBeforeMarker("a<N>b", "<M>", "X", out, sizeof out));
    EXPECT_STREQ("a<N>b", out);
    std::strcpy(out, "kept");
    EXPECT_EQ(0, InsertBeforeMarker("a<M>", "<M>", "XY", out, 6));  // needs 7 with the NUL
    EXPECT_STREQ("kept", out);
    EXPECT_EQ(1, InsertBeforeMarker("a<M>", "<M>", "XY", out, 7));
    EXPECT_STREQ("aXY<M>", out);
}

// --- Replies -----------------------------------------------------------------------------------

std::string Extract(const std::string& reply, int number, long* size, bool* found) {
    char out[64] = "untouched";
    *found = ExtractReplyParameter(reply.c_str(), number, out, sizeof out, size) != 0;
    return out;
}

TEST(Framing, ReplyParametersAreFoundByTheirPieces) {
    const std::string reply =
        "<DATA><STATUS>SUCCESS</STATUS><PARAMETERS><PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER0>"
        "<PARAMETER1 SIZE=4 TYPE=\"record\">AAAAAQAA</PARAMETER1></PARAMETERS></DATA>";
    long size = -1;
    bool found = false;
    EXPECT_EQ("AQAAAAEB", Extract(reply, 0, &size, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(4, size);
    // Extra attributes: the size text runs up to ">", and its leading number counts.
    EXPECT_EQ("AAAAAQAA", Extract(reply, 1, &size, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(4, size);
    EXPECT_EQ("untouched", Extract(reply, 2, &size, &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(0, size);

    uint32_t result = 7;
    EXPECT_EQ(1, ReadQuietly(reply, 0, &result, sizeof result));
    EXPECT_EQ(1u, result);
}

TEST(Framing, IncompleteElementsAreAbsent) {
    const char* broken[] = {
        "<PARAMETER0 SIZE=4>AQAAAAEB",               // no closing text
        "<PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER0",   // closing text without ">"
        "<PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER1>",  // another number's closing text
        "<PARAMETER0>AQAAAAEB</PARAMETER0>",         // no SIZE=
        "<PARAMETER0 SIZE=4",                        // no ">"
        "<PARAM0 SIZE=4>AQAAAAEB</PARAM0>",
    };
    for (const char* reply : broken) {
        long size = -1;
        bool found = true;
        EXPECT_EQ("untouched", Extract(reply, 0, &size, &found)) << reply;
        EXPECT_FALSE(found) << reply;
        EXPECT_EQ(0, size) << reply;
        uint32_t result = 7;
        EXPECT_EQ(0, ReadQuietly(reply, 0, &result, sizeof result)) << reply;
        EXPECT_EQ(7u, result) << reply;
    }
}

TEST(Framing, NumbersAreNotMistakenForLongerOnes) {
    const std::string in_order =
        "<PARAMETER1 SIZE=4>AQAAAAEB</PARAMETER1><PARAMETER10 SIZE=4>AAAAAQAA</PARAMETER10>";
    const std::string reversed =
        "<PARAMETER10 SIZE=4>AAAAAQAA</PARAMETER10><PARAMETER1 SIZE=4>AQAAAAEB</PARAMETER1>";
    for (const std::string& reply : {in_order, reversed}) {
        long size = 0;
        bool found = false;
        EXPECT_EQ("AQAAAAEB", Extract(reply, 1, &size, &found)) << reply;
        EXPECT_EQ("AAAAAQAA", Extract(reply, 10, &size, &found)) << reply;
    }
    // Out of order, and parameter 0 missing while 2 is there.
    const std::string reply =
        "<PARAMETER2 SIZE=4>AAAAAQAA</PARAMETER2><PARAMETER1 SIZE=4>AQAAAAEB</PARAMETER1>";
    uint32_t value = 7;
    EXPECT_EQ(0, ReadQuietly(reply, 0, &value, sizeof value));
    EXPECT_EQ(7u, value);
    EXPECT_EQ(1, ReadQuietly(reply, 2, &value, sizeof value));
    EXPECT_EQ(0u, value);
    EXPECT_EQ(1, ReadQuietly(reply, 1, &value, sizeof value));
    EXPECT_EQ(1u, value);
}

TEST(Framing, SizeTextOfMoreThan259CharactersMakesTheParameterAbsent) {
    const std::string fits =
        "<PARAMETER0 SIZE=4" + std::string(258, ' ') + ">AQAAAAEB</PARAMETER0>";
    const std::string too_long =
        "<PARAMETER0 SIZE=4" + std::string(259, ' ') + ">AQAAAAEB</PARAMETER0>";
    long size = 0;
    bool found = false;
    EXPECT_EQ("AQAAAAEB", Extract(fits, 0, &size, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(4, size);
    EXPECT_EQ("untouched", Extract(too_long, 0, &size, &found));
    EXPECT_FALSE(found);
}

TEST(Framing, ContentThatDoesNotDecodeLeavesTheRecordAlone) {
    Bytes record(648, 0x5A);
    for (const char* reply :
         {"<PARAMETER1 SIZE=648>AQAA*AEB</PARAMETER1>", "<PARAMETER1 SIZE=648>AQAAAAE</PARAMETER1>",
          "<PARAMETER1 SIZE=648>//8=</PARAMETER1>"}) {
        EXPECT_EQ(0, ReadQuietly(reply, 1, record.data(), record.size())) << reply;
    }
    EXPECT_EQ(Bytes(648, 0x5A), record);
    // Content longer than the caller's buffer is absent too.
    char out[4] = "abc";
    EXPECT_EQ(0, ExtractReplyParameter("<PARAMETER0 SIZE=4>AQAAAAEB</PARAMETER0>", 0, out,
                                       sizeof out, nullptr));
    EXPECT_STREQ("abc", out);
}

}  // namespace
}  // namespace cv
