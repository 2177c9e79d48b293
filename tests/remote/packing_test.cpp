#include "remote/packing.h"
#include "remote/base64.h"
#include "remote/dictionary_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/remote/reference_coder.h"
#include "tests/support/diagnostics.h"

namespace cv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& data) {
    Bytes out(2 * data.size() + 2);
    out.resize(DictCompress(data.data(), data.size(), out.data()));
    return out;
}

Bytes Codes(const std::vector<int>& codes) {
    Bytes out;
    for (int c : codes)
        out.insert(out.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
    return out;
}

// Decodes with exactly the given capacity; the two bytes after it must stay untouched.
bool Decompress(const Bytes& stream, size_t capacity, Bytes* out) {
    Bytes buffer(capacity + 2, 0xEE);
    size_t length = 0;
    const bool ok = DictDecompress(stream.data(), stream.size(), buffer.data(), capacity, &length);
    EXPECT_EQ(Bytes(2, 0xEE), Bytes(buffer.end() - 2, buffer.end()));
    *out = Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
    return ok;
}

std::string Pack(const Bytes& data) {
    std::vector<char> text(kRemoteBufferSize);
    EXPECT_EQ(1, PackParameter(data.data(), data.size(), text.data(), text.size()));
    return text.data();
}

TEST(Packing, WorkedExamplesHoldByteForByte) {
    const struct {
        Bytes data;
        std::vector<int> codes;
        const char* packed;
    } examples[] = {
        {{'a', 'b', 'c'}, {'a', 'b', 'c'}, "YQBiAGMA"},
        {{1, 0, 0, 0}, {1, 0, 257}, "AQAAAAEB"},
        {{0, 0, 0, 0}, {0, 256, 0}, "AAAAAQAA"},
        {{'a', 'a', 'a'}, {'a', 256}, "YQAAAQ=="},  // 256: the entry that very step defines
    };
    for (const auto& e : examples) {
        EXPECT_EQ(Codes(e.codes), Compress(e.data));
        testing::KeptDiagnostics quiet;
        EXPECT_EQ(e.packed, Pack(e.data));
        Bytes out;
        ASSERT_TRUE(Decompress(Codes(e.codes), e.data.size(), &out));
        EXPECT_EQ(e.data, out);
    }
    // 2,000 zero bytes: strings of 1 to 62 bytes (1,953 bytes), then the 47 left.
    std::vector<int> codes = {0};
    for (int code = 256; code <= 316; ++code) codes.push_back(code);
    codes.push_back(256 + 45);
    EXPECT_EQ(Codes(codes), Compress(Bytes(2000, 0)));
}

TEST(Packing, PackAndUnpackPrintTheirProgress) {
    testing::KeptDiagnostics kept;
    Pack({'a', 'b', 'c'});
    EXPECT_EQ("compressing...\nCompressed size: 6\nResult of base64 encoding: YQBiAGMA\nSize:8\n",
              kept.Take());

    uint32_t result = 0;
    EXPECT_EQ(1, UnpackParameter("AQAAAAEB", &result, sizeof result));
    EXPECT_EQ(
        "decompressing\nB64Source length: 8 parameter size=4\nDecoded size=6\n"
        "Uncompressed size=4\nFreeing\n",
        kept.Take());
    EXPECT_EQ(1u, result);
}

// The fast coder's stream is the linear scan's, no longer than two bytes a byte; it decodes with
// exactly the room of the block and not with a byte less.
void ExpectSameAsReference(const Bytes& data, const std::string& what) {
    SCOPED_TRACE(what + ", " + std::to_string(data.size()) + " bytes");
    Bytes slow(2 * data.size() + 2);
    slow.resize(reference::Compress(data.data(), data.size(), slow.data()));
    const Bytes fast = Compress(data);
    ASSERT_EQ(slow, fast);
    ASSERT_LE(fast.size(), 2 * data.size());
    Bytes back;
    ASSERT_TRUE(Decompress(fast, data.size(), &back));
    ASSERT_EQ(data, back);
    if (data.size() > 1) {
        ASSERT_FALSE(Decompress(fast, data.size() - 1, &back));
    }
}

// Blocks of the shapes that matter to the coder, from one seed.
struct Shapes {
    std::mt19937 rng;
    size_t Size() { return 1 + rng() % 9000; }
    // Bytes from an alphabet: all 256, or a tiny one (long strings, a dictionary that fills up).
    Bytes Letters(size_t size, int letters = 256) {
        Bytes data(size);
        for (auto& b : data)
            b = static_cast<uint8_t>(letters == 256 ? rng() : 'a' + rng() % letters);
        return data;
    }
    // Texts at field offsets, 32-bit numbers, and zero padding, as the records are.
    Bytes Record(size_t size) {
        Bytes data(size);
        for (size_t at = 0; at < size; at += 4 + rng() % 400) {
            for (size_t i = 0, n = std::min<size_t>(size - at, rng() % 48); i < n; ++i)
                data[at + i] = static_cast<uint8_t>(' ' + rng() % 95);
        }
        return data;
    }
    // Runs of a few byte values, some far longer than the 62-byte cap.
    Bytes Runs(size_t size) {
        Bytes data;
        while (data.size() < size) {
            const uint8_t b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : rng() % 3);
            data.insert(data.end(), rng() % 8 == 0 ? 100 + rng() % 2000 : 1 + rng() % 70, b);
        }
        data.resize(size);
        return data;
    }
    // A pattern repeated: matches that hit the cap, the same string stored twice.
    Bytes Repeated(size_t size, size_t period) {
        const Bytes pattern = Letters(period);
        Bytes data(size);
        for (size_t i = 0; i < size; ++i) data[i] = pattern[i % period];
        return data;
    }
};

TEST(Packing, LargestRecordFitsItsTextBuffer) {
    const Bytes data = Shapes{std::mt19937(8780)}.Letters(8780);
    testing::KeptDiagnostics kept;
    const std::string text = Pack(data);
    Bytes back(8780);
    EXPECT_EQ(1, UnpackParameter(text.c_str(), back.data(), back.size()));
    // The whole packed text is in the report, however long.
    EXPECT_NE(std::string::npos, kept.Take().find("encoding: " + text + "\n"));
    EXPECT_FALSE(text.empty());
    EXPECT_LE(text.size(), 23416u);
    EXPECT_EQ(data, back);
}

TEST(Packing, SameCodeStreamAsTheLinearScan) {
    Shapes shapes{std::mt19937(20240606)};
    for (int round = 0; round < 60; ++round) {
        ExpectSameAsReference(shapes.Letters(shapes.Size()), "random");
        ExpectSameAsReference(shapes.Record(shapes.Size()), "record");
        ExpectSameAsReference(shapes.Runs(shapes.Size()), "runs");
        ExpectSameAsReference(shapes.Letters(shapes.Size(), 2 + round % 4), "alphabet");
    }
    for (size_t size = 1; size <= 300; ++size) {
        ExpectSameAsReference(size % 2 ? shapes.Letters(size) : shapes.Record(size), "small");
    }
    for (size_t size : {4u, 648u, 5388u, 8772u, 8780u}) {
        ExpectSameAsReference(shapes.Record(size), "record");
        ExpectSameAsReference(shapes.Letters(size), "random");
        ExpectSameAsReference(Bytes(size, 0), "zero");
    }
    // At the cap, and runs far beyond it before and after the dictionary fills up.
    for (size_t period : {1u, 2u, 31u, 61u, 62u, 63u, 64u, 124u, 125u, 126u, 300u}) {
        ExpectSameAsReference(shapes.Repeated(9000, period), "period " + std::to_string(period));
    }
    ExpectSameAsReference(Bytes(20000, 0), "zero");
    Bytes mixed = shapes.Letters(3000);
    mixed.resize(9000, 0);
    Bytes tail = shapes.Runs(6000);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    ExpectSameAsReference(mixed, "random, zero, runs");
    Bytes full = shapes.Letters(5000, 3);
    Bytes more = shapes.Repeated(5000, 63);
    full.insert(full.end(), more.begin(), more.end());
    ExpectSameAsReference(full, "full, then the cap");
}

TEST(Packing, StreamsNoCompressorWritesAreRefused) {
    // 768 single bytes fill the dictionary to 1,023 entries; 1,022 is the last that exists (bytes
    // 254 and 255).
    std::vector<int> full;
    for (int i = 0; i < 768; ++i) full.push_back(i % 256);
    // 'a' then 256, 257, ...: each code word defines the next run of a; the 62nd of them names
    // the entry of 63 bytes, and one more code word would have to add one of 64.
    std::vector<int> longest = {'a'};
    for (int code = 256; code <= 317; ++code) longest.push_back(code);
    auto plus = [](std::vector<int> codes, int code) {
        codes.push_back(code);
        return codes;
    };
    const struct {
        std::vector<int> codes;
        bool ok;
        size_t length;
    } cases[] = {
        {{256}, false, 0},       // the first code must be a byte
        {{'a', 257}, false, 0},  // above the count
        {{'a', 'b', 259}, false, 0},
        {{'a', 'b', 257}, true, 4},  // the count itself is fine: a, b, bb
        {plus(full, 1022), true, 770},
        {plus(full, 1023), false, 0},
        {longest, true, 63 * 64 / 2},
        {plus(longest, 'a'), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codes.size());
        Bytes out;
        EXPECT_EQ(c.ok, Decompress(Codes(c.codes), 4096, &out));
        EXPECT_EQ(c.length, c.ok ? out.size() : 0);
    }
    Bytes out;
    testing::KeptDiagnostics kept;
    EXPECT_FALSE(Decompress(Codes({'a', 0xFFFF}), 16, &out));
    EXPECT_EQ("Something wrong\n", kept.Take());
    // A final odd byte is ignored; less than a code word decodes to nothing.
    Bytes odd = Codes({'a', 'b'});
    odd.push_back(0x7F);
    EXPECT_TRUE(Decompress(odd, 16, &out));
    EXPECT_EQ(Bytes({'a', 'b'}), out);
    EXPECT_TRUE(Decompress(Bytes({'a'}), 16, &out));
    EXPECT_TRUE(out.empty());
}

TEST(Packing, RandomStreamsDecodeAsTheReferenceAndStayInBounds) {
    std::mt19937 rng(1023);
    std::vector<int> mismatches;
    int valid = 0;
    testing::KeptDiagnostics quiet;  // "Something wrong" for each 0xFFFF
    for (int round = 0; round < 3000; ++round) {
        // Code words mostly at or below the count, now and then one beyond.
        std::vector<int> codes = {static_cast<int>(rng() % 256)};
        for (int count = 256, words = static_cast<int>(rng() % 1200); words > 0; --words) {
            int code = rng() % 4 == 0 ? count - static_cast<int>(rng() % 8)
                                      : static_cast<int>(rng() % (count + 1));
            if (code > 1022) code = 1022;
            if (count < 1023) ++count;
            codes.push_back(rng() % 500 == 0 ? static_cast<int>(rng() % 65536) : code);
        }
        const Bytes stream = Codes(codes);
        const size_t capacity = rng() % 2 == 0 ? 100000 : rng() % 20000;
        Bytes fast;
        const bool fast_ok = Decompress(stream, capacity, &fast);
        Bytes slow(capacity + 1);
        size_t slow_length = 0;
        const bool slow_ok = reference::Decompress(stream.data(), stream.size(), slow.data(),
                                                   capacity, &slow_length);
        slow.resize(slow_ok ? slow_length : 0);
        if (fast_ok != slow_ok || (fast_ok && fast != slow)) mismatches.push_back(round);
        valid += fast_ok;
    }
    EXPECT_TRUE(mismatches.empty()) << "first at round " << mismatches.front();
    EXPECT_GT(valid, 300);  // and not all refused early
}

TEST(Packing, UnpackLeavesTheDestinationAloneWhenTheTextDoesNotDecode) {
    // A bomb: the same run over and over, far longer than the record.
    Bytes bomb = Compress(Bytes(4000, 0));
    char text[kRemoteBufferSize];
    ASSERT_GT(Base64Encode(bomb.data(), bomb.size(), text, sizeof text), 0);
    Bytes record(648, 0x5A);
    testing::KeptDiagnostics quiet;
    EXPECT_EQ(0, UnpackParameter(text, record.data(), record.size()));
    EXPECT_EQ(0, UnpackParameter("YQBiAGM", record.data(), record.size()));  // partial group
    EXPECT_EQ(0, UnpackParameter("AAE=", record.data(), record.size()));     // code 256 first
    EXPECT_EQ(Bytes(648, 0x5A), record);
    // A valid stream shorter than the destination fills its beginning; an empty or one-byte
    // stream writes nothing.
    EXPECT_EQ(1, UnpackParameter("YQBiAGMA", record.data(), record.size()));
    EXPECT_EQ(1, UnpackParameter("", record.data(), record.size()));
    EXPECT_EQ(1, UnpackParameter("YQ==", record.data(), record.size()));
    EXPECT_EQ(Bytes({'a', 'b', 'c', 0x5A}), Bytes(record.begin(), record.begin() + 4));
    EXPECT_EQ(Bytes(644, 0x5A), Bytes(record.begin() + 4, record.end()));
}

TEST(Base64, EncodesTheStandardVectorsWithinTheirCapacity) {
    // The encodings of "", "f", "fo", ... "foobar", then of FB EF FF.
    size_t n = 0;
    for (const std::string expected :
         {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy", "++//"}) {
        const std::string data = n < 7 ? std::string("foobar", n++) : "\xFB\xEF\xFF";
        char text[16];
        EXPECT_EQ(static_cast<int>(expected.size()),
                  Base64Encode(data.data(), data.size(), text, expected.size() + 1));
        EXPECT_EQ(expected, text);
        EXPECT_EQ(-1, Base64Encode(data.data(), data.size(), text, expected.size()));  // no NUL
        EXPECT_STREQ("", text);
    }
}

TEST(Base64, DecodesWhatFitsSkippingWhitespaceAndRefusesMalformedText) {
    const struct {
        const char* text;
        size_t capacity;
        int result;
        const char* data;
    } cases[] = {
        {"Zm9vYmFy", 6, 6, "foobar"},
        {"Zm9vYmFy", 5, -1, ""},
        {"Zg==", 2, 1, "f"},
        {"Zg==", 1, -1, ""},  // the partial byte needs its place
        {"Zg==", 0, -1, ""},
        {"Zm8=", 3, 2, "fo"},
        {"Zm8=", 2, -1, ""},
        {"", 64, 0, ""},
        {" Zm9v\r\nYmFy\t", 64, 6, "foobar"},
        {"Z\nm\v9\fv Y g = \n= \r\n", 64, 4, "foob"},
        {"Zm9vYmE=\n\n", 64, 5, "fooba"},
        {" \n\t", 64, 0, ""},
    };
    for (const auto& c : cases) {
        char out[64] = "";
        EXPECT_EQ(c.result, Base64Decode(c.text, out, c.capacity)) << c.text << " " << c.capacity;
        EXPECT_STREQ(c.data, c.result > 0 ? out : "") << c.text;
    }
    // Outside the alphabet (the URL-safe one is not this one, nor are 8-bit characters); partial
    // groups ending at the NUL; "=" after no or one character of a group; two characters need
    // "=="; anything but whitespace after the padding; unused bits not zero.
    for (const char* text :
         {"Zm9v*mFy", "Zm9-", "Zm9\x80", "Z", "Zm", "Zm9", "Zm9vY", "=",
          "Z===", "Zm9v=", "Zg=", "Zg= x", "Zg==Zg==", "Zm8=Zm8=", "Zm8==", "Zh==", "Zm9="}) {
        uint8_t out[64];
        EXPECT_EQ(-1, Base64Decode(text, out, sizeof out)) << text;
    }
}

TEST(Base64, WholeGroupsDecodeAsCharacterByCharacter) {
    // Whole groups take a shorter road than groups broken up by whitespace; random texts of
    // alphabet, padding, whitespace and stray characters must come out the same both ways, and
    // neither may write past the capacity.
    std::mt19937 rng(64);
    const char pool[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/AQgw=\n *";
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const size_t length = rng() % 24;
        for (size_t i = 0; i < length; ++i) {
            text += rng() % 8 != 0 ? pool[rng() % 64] : pool[rng() % (sizeof pool - 1)];
        }
        std::string spaced;
        for (char c : text) spaced += std::string(1, c) + " ";
        const size_t capacity = rng() % 20;
        Bytes whole(capacity + 1, 0xEE);
        Bytes broken(capacity + 1, 0xEE);
        const int a = Base64Decode(text.c_str(), whole.data(), capacity);
        const int b = Base64Decode(spaced.c_str(), broken.data(), capacity);
        ASSERT_EQ(b, a) << text << " / " << capacity;
        ASSERT_EQ(0xEE, whole[capacity]);
        ASSERT_EQ(0xEE, broken[capacity]);
        if (a > 0) {
            ASSERT_TRUE(std::equal(whole.begin(), whole.begin() + a, broken.begin())) << text;
        }
    }
}

}  // namespace
}  // namespace cv
