// The dictionary coder and UnpackParameter. The fast coder must agree byte for byte with the plain
// linear-scan one on every input: the same code stream for any block, the same bytes, length and
// verdict for any stream, whatever the room it may fill. UnpackParameter, fed any text, writes
// what those two steps give or leaves the destination exactly as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "remote/base64.h"
#include "remote/dictionary_coder.h"
#include "remote/packing.h"
#include "tests/remote/reference_coder.h"

namespace {

std::unique_ptr<uint8_t[]> Exact(size_t size) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[size > 0 ? size : 1]);
}

// A code word stands for at most 63 bytes.
constexpr size_t kMaxEntryLength = 63;

void CompressBlock(const uint8_t* data, size_t size) {
    auto fast = Exact(2 * size);
    auto plain = Exact(2 * size);
    const size_t length = cv::DictCompress(data, size, fast.get());
    FUZZ_CHECK(length == cv::reference::Compress(data, size, plain.get()));
    FUZZ_CHECK(length == 0 || std::memcmp(fast.get(), plain.get(), length) == 0);

    auto back = Exact(size);
    size_t back_length = 0;
    FUZZ_CHECK(cv::DictDecompress(fast.get(), length, back.get(), size, &back_length));
    FUZZ_CHECK(back_length == size);
    FUZZ_CHECK(size == 0 || std::memcmp(back.get(), data, size) == 0);
}

bool BothDecompress(const uint8_t* stream, size_t length, size_t capacity, size_t* out_length,
                    std::unique_ptr<uint8_t[]>* out) {
    auto fast = Exact(capacity);
    auto plain = Exact(capacity);
    size_t fast_length = 99;
    size_t plain_length = 99;
    const bool fast_ok = cv::DictDecompress(stream, length, fast.get(), capacity, &fast_length);
    const bool plain_ok =
        cv::reference::Decompress(stream, length, plain.get(), capacity, &plain_length);
    FUZZ_CHECK(fast_ok == plain_ok);
    if (fast_ok) {
        FUZZ_CHECK(fast_length == plain_length && fast_length <= capacity);
        FUZZ_CHECK(fast_length == 0 || std::memcmp(fast.get(), plain.get(), fast_length) == 0);
    }
    *out_length = fast_length;
    *out = std::move(fast);
    return fast_ok;
}

void DecompressStream(const uint8_t* stream, size_t length) {
    size_t out_length = 0;
    std::unique_ptr<uint8_t[]> out;
    const size_t roomy = (length / 2) * kMaxEntryLength + 1;
    if (!BothDecompress(stream, length, roomy, &out_length, &out)) return;
    // Exactly the room it needs is enough; a byte less is not.
    size_t again = 0;
    std::unique_ptr<uint8_t[]> exact;
    FUZZ_CHECK(BothDecompress(stream, length, out_length, &again, &exact) && again == out_length);
    if (out_length > 0) FUZZ_CHECK(!BothDecompress(stream, length, out_length - 1, &again, &exact));
}

// The sizes of the records that travel as parameters.
constexpr size_t kRecordSizes[] = {4, 648, 5388, 8772, 8780};

void Unpack(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* c_text = text.c_str();  // what a reply's element holds ends at a NUL
    const size_t text_length = std::strlen(c_text);
    const size_t stream_capacity = text_length + 1;
    auto stream = Exact(stream_capacity);
    const int stream_length = cv::Base64Decode(c_text, stream.get(), stream_capacity);

    for (size_t record : kRecordSizes) {
        auto destination = Exact(record);
        std::memset(destination.get(), 0xA5, record);
        const int result = cv::UnpackParameter(c_text, destination.get(), record);

        size_t expected_length = 0;
        auto expected = Exact(record);
        bool decodes = stream_length >= 0;
        if (decodes && stream_length >= 2) {
            decodes = cv::reference::Decompress(stream.get(), static_cast<size_t>(stream_length),
                                                expected.get(), record, &expected_length);
        }
        FUZZ_CHECK(result == (decodes ? 1 : 0));
        if (!decodes) expected_length = 0;
        FUZZ_CHECK(expected_length == 0 ||
                   std::memcmp(destination.get(), expected.get(), expected_length) == 0);
        for (size_t i = expected_length; i < record; ++i) FUZZ_CHECK(destination[i] == 0xA5);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Unpacking reports its progress on standard output; the fuzzer's own output is on stderr.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CompressBlock(data, size);
    DecompressStream(data, size);
    Unpack(data, size);
    return 0;
}
