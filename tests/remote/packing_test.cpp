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
    for (int c : codes) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

// Decodes with exactly the given capacity; the two bytes after it must stay untouched.
bool Decompress(const Bytes& stream, size_t capacity, Bytes* out) {
    Bytes buffer(capacity + 2, 0xEE);
    size_t length = 0;
    const bool ok = DictDecompress(stream.data(), stream.size(), buffer.data(), capacity, &length);
    EXPECT_EQ(0xEE, buffer[capacity]);
    EXPECT_EQ(0xEE, buffer[capacity + 1]);
    buffer.resize(length);
    *out = buffer;
    return ok;
}

std::string Pack(const Bytes& data) {
    std::vector<char> text(kRemoteBufferSize);
    EXPECT_EQ(1, PackParameter(data.data(), data.size(), text.data(), text.size()));
    return text.data();
}

int Decode64(const char* text, Bytes* out, size_t capacity = 64) {
    out->assign(capacity, 0);
    const int n = Base64Decode(text, out->data(), capacity);
    out->resize(n < 0 ? 0 : static_cast<size_t>(n));
    return n;
}

// --- The worked examples of the format -----------------------------------------------------

TEST(Packing, WorkedExamplesHoldByteForByte) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(Codes({'a', 'b', 'c'}), Compress({'a', 'b', 'c'}));
    EXPECT_EQ("YQBiAGMA", Pack({'a', 'b', 'c'}));
    EXPECT_EQ(Codes({1, 0, 257}), Compress({1, 0, 0, 0}));
    EXPECT_EQ("AQAAAAEB", Pack({1, 0, 0, 0}));
    EXPECT_EQ(Codes({0, 256, 0}), Compress({0, 0, 0, 0}));
    EXPECT_EQ("AAAAAQAA", Pack({0, 0, 0, 0}));
    EXPECT_EQ(Codes({'a', 256}), Compress({'a', 'a', 'a'}));
    testing::internal::GetCapturedStdout();

    // The second code word of aaa is the entry that very step defines.
    Bytes out;
    ASSERT_TRUE(Decompress(Codes({'a', 256}), 3, &out));
    EXPECT_EQ(Bytes({'a', 'a', 'a'}), out);

    // 2,000 zero bytes: strings of 1 to 62 bytes (1,953 bytes), then the 47 left.
    std::vector<int> codes = {0};
    for (int code = 256; code <= 316; ++code) codes.push_back(code);
    codes.push_back(256 + 45);
    EXPECT_EQ(63u, codes.size());
    EXPECT_EQ(Codes(codes), Compress(Bytes(2000, 0)));
}

TEST(Packing, PackAndUnpackPrintTheirProgress) {
    testing::internal::CaptureStdout();
    Pack({'a', 'b', 'c'});
    EXPECT_EQ("compressing...\nCompressed size: 6\nResult of base64 encoding: YQBiAGMA\nSize:8\n",
              testing::internal::GetCapturedStdout());

    uint32_t result = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, UnpackParameter("AQAAAAEB", &result, sizeof result));
    EXPECT_EQ(
        "decompressing\nB64Source length: 8 parameter size=4\nDecoded size=6\n"
        "Uncompressed size=4\nFreeing\n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(1u, result);
}

// --- Round trips and the differential test against the linear-scan coder -------------------

TEST(Packing, EveryBlockSizeRoundTrips) {
    std::mt19937 rng(6);
    for (size_t size = 1; size <= 9000; ++size) {
        Bytes data(size);
        // Random bytes, or a record: zero but for a few short texts.
        if (size % 2 == 0) {
            for (auto& b : data) b = static_cast<uint8_t>(rng());
        } else {
            for (size_t at = 0; at < size; at += 256 + rng() % 512) data[at] = 'A' + rng() % 26;
        }
        const Bytes stream = Compress(data);
        ASSERT_LE(stream.size(), 2 * size);
        Bytes back;
        ASSERT_TRUE(Decompress(stream, size, &back)) << size;
        ASSERT_EQ(data, back) << size;
        if (size > 1) {
            ASSERT_FALSE(Decompress(stream, size - 1, &back)) << size;  // one byte too many
        }
        std::vector<char> text(kRemoteBufferSize);
        const int chars = Base64Encode(stream.data(), stream.size(), text.data(), text.size());
        ASSERT_EQ(static_cast<int>((stream.size() + 2) / 3 * 4), chars);
        Bytes decoded(stream.size() + 1);
        ASSERT_EQ(static_cast<int>(stream.size()),
                  Base64Decode(text.data(), decoded.data(), decoded.size()));
        decoded.pop_back();
        ASSERT_EQ(stream, decoded) << size;
    }
}

TEST(Packing, LargestRecordFitsItsTextBuffer) {
    std::mt19937 rng(8780);
    Bytes data(8780);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    testing::internal::CaptureStdout();
    const std::string text = Pack(data);
    Bytes back(8780);
    EXPECT_EQ(1, UnpackParameter(text.c_str(), back.data(), back.size()));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(text.empty());
    EXPECT_LE(text.size(), 23416u);
    EXPECT_EQ(data, back);
}

void ExpectSameAsReference(const Bytes& data, const std::string& what) {
    SCOPED_TRACE(what + ", " + std::to_string(data.size()) + " bytes");
    Bytes slow(2 * data.size() + 2);
    slow.resize(reference::Compress(data.data(), data.size(), slow.data()));
    const Bytes fast = Compress(data);
    ASSERT_EQ(slow, fast);
    Bytes back;
    ASSERT_TRUE(Decompress(fast, data.size(), &back));
    ASSERT_EQ(data, back);
}

class Shapes {
  public:
    explicit Shapes(uint32_t seed) : rng_(seed) {}
    size_t Size() { return 1 + rng_() % 9000; }
    uint8_t Byte() { return static_cast<uint8_t>(rng_()); }

    Bytes Random(size_t size) {
        Bytes data(size);
        for (auto& b : data) b = Byte();
        return data;
    }
    // Texts at field offsets, 32-bit numbers, and zero padding, as the records are.
    Bytes Record(size_t size) {
        Bytes data(size);
        for (size_t at = 0; at < size; at += 4 + rng_() % 400) {
            const size_t n = std::min<size_t>(size - at, rng_() % 48);
            for (size_t i = 0; i < n; ++i) data[at + i] = static_cast<uint8_t>(' ' + rng_() % 95);
        }
        return data;
    }
    // Runs of a few byte values, some far longer than the 62-byte cap.
    Bytes Runs(size_t size) {
        Bytes data;
        while (data.size() < size) {
            const uint8_t b = static_cast<uint8_t>(rng_() % 4 == 0 ? Byte() : rng_() % 3);
            const size_t n = rng_() % 8 == 0 ? 100 + rng_() % 2000 : 1 + rng_() % 70;
            data.insert(data.end(), n, b);
        }
        data.resize(size);
        return data;
    }
    // Bytes from a tiny alphabet: long strings, a dictionary that fills up.
    Bytes SmallAlphabet(size_t size, int letters) {
        Bytes data(size);
        for (auto& b : data) b = static_cast<uint8_t>('a' + rng_() % letters);
        return data;
    }
    // A pattern repeated: matches that hit the cap, the same string stored twice.
    Bytes Repeated(size_t size, size_t period) {
        const Bytes pattern = Random(period);
        Bytes data(size);
        for (size_t i = 0; i < size; ++i) data[i] = pattern[i % period];
        return data;
    }

  private:
    std::mt19937 rng_;
};

TEST(Packing, SameCodeStreamAsTheLinearScan) {
    Shapes shapes(20240606);
    for (int round = 0; round < 60; ++round) {
        ExpectSameAsReference(shapes.Random(shapes.Size()), "random");
        ExpectSameAsReference(shapes.Record(shapes.Size()), "record");
        ExpectSameAsReference(shapes.Runs(shapes.Size()), "runs");
        ExpectSameAsReference(shapes.SmallAlphabet(shapes.Size(), 2 + round % 4), "alphabet");
    }
    for (size_t size : {4u, 648u, 5388u, 8772u, 8780u}) {
        ExpectSameAsReference(shapes.Record(size), "record");
        ExpectSameAsReference(shapes.Random(size), "random");
        ExpectSameAsReference(Bytes(size, 0), "zero");
    }
}

TEST(Packing, SameCodeStreamAtTheCapAndWithAFullDictionary) {
    Shapes shapes(62);
    for (size_t period : {1u, 2u, 31u, 61u, 62u, 63u, 64u, 124u, 125u, 126u, 300u}) {
        ExpectSameAsReference(shapes.Repeated(9000, period), "period " + std::to_string(period));
    }
    // Runs far beyond the cap, before and after the dictionary fills up.
    Bytes data(20000, 0);
    ExpectSameAsReference(data, "zero");
    Bytes mixed = shapes.Random(3000);
    mixed.resize(9000, 0);
    Bytes tail = shapes.Runs(6000);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    ExpectSameAsReference(mixed, "random, zero, runs");
    Bytes full = shapes.SmallAlphabet(5000, 3);
    Bytes more = shapes.Repeated(5000, 63);
    full.insert(full.end(), more.begin(), more.end());
    ExpectSameAsReference(full, "full, then the cap");
}

// --- Hostile code streams --------------------------------------------------------------------

TEST(Packing, StreamsNoCompressorWritesAreRefused) {
    Bytes out;
    EXPECT_FALSE(Decompress(Codes({256}), 16, &out));       // first code must be a byte
    EXPECT_FALSE(Decompress(Codes({'a', 257}), 16, &out));  // above the count
    EXPECT_FALSE(Decompress(Codes({'a', 'b', 259}), 16, &out));
    EXPECT_TRUE(Decompress(Codes({'a', 'b', 257}), 16, &out));  // the count itself is fine
    EXPECT_EQ(Bytes({'a', 'b', 'b', 'b'}), out);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(Decompress(Codes({'a', 0xFFFF}), 16, &out));
    EXPECT_EQ("Something wrong\n", testing::internal::GetCapturedStdout());

    // A final odd byte is ignored; less than a code word decodes to nothing.
    Bytes odd = Codes({'a', 'b'});
    odd.push_back(0x7F);
    EXPECT_TRUE(Decompress(odd, 16, &out));
    EXPECT_EQ(Bytes({'a', 'b'}), out);
    EXPECT_TRUE(Decompress(Bytes({'a'}), 16, &out));
    EXPECT_TRUE(out.empty());
}

TEST(Packing, FullDictionaryTakesNoNewEntry) {
    // 768 single bytes fill the dictionary to 1,023 entries; 1,022 is the last that exists.
    std::vector<int> codes;
    for (int i = 0; i < 768; ++i) codes.push_back(i % 256);
    codes.push_back(1022);
    Bytes out;
    ASSERT_TRUE(Decompress(Codes(codes), 1024, &out));
    EXPECT_EQ(770u, out.size());  // entry 1022 is bytes 254 and 255
    codes.back() = 1023;
    EXPECT_FALSE(Decompress(Codes(codes), 1024, &out));
}

TEST(Packing, EntryLongerThanSixtyThreeBytesIsRefused) {
    // 'a' then 256, 257, ...: each code word defines the next run of a; the 62nd of them names
    // the entry of 63 bytes, and one more code word would have to add one of 64.
    std::vector<int> codes = {'a'};
    for (int code = 256; code <= 317; ++code) codes.push_back(code);
    Bytes out;
    ASSERT_TRUE(Decompress(Codes(codes), 4096, &out));
    EXPECT_EQ(Bytes(63 * 64 / 2, 'a'), out);
    codes.push_back('a');
    EXPECT_FALSE(Decompress(Codes(codes), 4096, &out));
}

TEST(Packing, RandomStreamsDecodeAsTheReferenceAndStayInBounds) {
    std::mt19937 rng(1023);
    std::vector<int> mismatches;
    int valid = 0;
    testing::internal::CaptureStdout();
    for (int round = 0; round < 3000; ++round) {
        // Code words mostly at or below the count, now and then one beyond.
        Bytes stream;
        int count = 256;
        const int words = 1 + static_cast<int>(rng() % 1200);
        for (int i = 0; i < words; ++i) {
            int code;
            if (i == 0) {
                code = static_cast<int>(rng() % 256);
            } else if (rng() % 500 == 0) {
                code = static_cast<int>(rng() % 65536);
            } else {
                code = rng() % 4 == 0 ? count - static_cast<int>(rng() % 8)
                                      : static_cast<int>(rng() % (count + 1));
                if (code > 1022) code = 1022;
                if (count < 1023) ++count;
            }
            stream.push_back(static_cast<uint8_t>(code & 0xFF));
            stream.push_back(static_cast<uint8_t>(code >> 8));
        }
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
    testing::internal::GetCapturedStdout();  // "Something wrong" for each 0xFFFF
    EXPECT_TRUE(mismatches.empty()) << "first at round " << mismatches.front();
    EXPECT_GT(valid, 300);  // and not all refused early
}

TEST(Packing, UnpackLeavesTheDestinationAloneWhenTheTextDoesNotDecode) {
    // A bomb: the same run over and over, far longer than the record.
    Bytes bomb = Compress(Bytes(4000, 0));
    char text[kRemoteBufferSize];
    ASSERT_GT(Base64Encode(bomb.data(), bomb.size(), text, sizeof text), 0);
    Bytes record(648, 0x5A);
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, UnpackParameter(text, record.data(), record.size()));
    EXPECT_EQ(0, UnpackParameter("YQBiAGM", record.data(), record.size()));  // partial group
    EXPECT_EQ(0, UnpackParameter("AAE=", record.data(), record.size()));     // code 256 first
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Bytes(648, 0x5A), record);

    // A valid stream shorter than the destination fills its beginning; an empty or one-byte
    // stream writes nothing.
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, UnpackParameter("YQBiAGMA", record.data(), record.size()));
    EXPECT_EQ(1, UnpackParameter("", record.data(), record.size()));
    EXPECT_EQ(1, UnpackParameter("YQ==", record.data(), record.size()));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Bytes({'a', 'b', 'c', 0x5A}), Bytes(record.begin(), record.begin() + 4));
    EXPECT_EQ(Bytes(644, 0x5A), Bytes(record.begin() + 4, record.end()));
}

// --- Base64 ------------------------------------------------------------------------------------

TEST(Base64, EncodesTheStandardVectors) {
    const char* vectors[][2] = {{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="},
                                {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) {
        char text[16];
        EXPECT_EQ(static_cast<int>(std::strlen(v[1])),
                  Base64Encode(v[0], std::strlen(v[0]), text, sizeof text));
        EXPECT_STREQ(v[1], text);
        Bytes out;
        EXPECT_EQ(static_cast<int>(std::strlen(v[0])), Decode64(v[1], &out));
        EXPECT_EQ(std::string(v[0]), std::string(out.begin(), out.end()));
    }
    const uint8_t all[] = {0xFB, 0xEF, 0xFF};
    char text[8];
    EXPECT_EQ(4, Base64Encode(all, 3, text, sizeof text));
    EXPECT_STREQ("++//", text);
}

TEST(Base64, WhitespaceAnywhereIsSkipped) {
    Bytes out;
    EXPECT_EQ(6, Decode64(" Zm9v\r\nYmFy\t", &out));
    EXPECT_EQ("foobar", std::string(out.begin(), out.end()));
    EXPECT_EQ(4, Decode64("Z\nm\v9\fv Y g = \n= \r\n", &out));
    EXPECT_EQ("foob", std::string(out.begin(), out.end()));
    EXPECT_EQ(5, Decode64("Zm9vYmE=\n\n", &out));
    EXPECT_EQ(0, Decode64(" \n\t", &out));
}

TEST(Base64, MalformedTextIsRefused) {
    const char* malformed[] = {
        "Zm9v*mFy",  // outside the alphabet
        "Zm9-",      // the URL-safe alphabet is not this one
        "Zm9\x80",   // 8-bit character
        "Z",         // partial groups ending at the NUL
        "Zm",       "Zm9",   "Zm9vY",
        "=",  // "=" after no or one character of a group
        "Z===",     "Zm9v=",
        "Zg=",  // two characters need "=="
        "Zg= x",
        "Zg==Zg==",  // anything but whitespace after the padding
        "Zm8=Zm8=", "Zm8==",
        "Zh==",  // unused bits not zero
        "Zm9=",
    };
    for (const char* text : malformed) {
        Bytes out;
        EXPECT_EQ(-1, Decode64(text, &out)) << text;
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

TEST(Base64, CapacityHoldsTheNulAndTheCarryByte) {
    char text[9];
    EXPECT_EQ(8, Base64Encode("foobar", 6, text, 9));
    EXPECT_EQ(-1, Base64Encode("foobar", 6, text, 8));
    EXPECT_STREQ("", text);

    uint8_t out[8];
    EXPECT_EQ(6, Base64Decode("Zm9vYmFy", out, 6));
    EXPECT_EQ(-1, Base64Decode("Zm9vYmFy", out, 5));
    EXPECT_EQ(1, Base64Decode("Zg==", out, 2));
    EXPECT_EQ(-1, Base64Decode("Zg==", out, 1));  // the partial byte needs its place
    EXPECT_EQ(-1, Base64Decode("Zg==", out, 0));
    EXPECT_EQ(2, Base64Decode("Zm8=", out, 3));
    EXPECT_EQ(-1, Base64Decode("Zm8=", out, 2));
}

}  // namespace
}  // namespace cv
