// The dictionary coder and UnpackParameter. The fast coder must agree byte for byte with the plain
// linear-scan one on every input: the same code stream for any block, the same bytes, length and
// verdict for any stream. UnpackParameter, fed any text, writes what those two steps give or
// leaves the destination exactly as it was. Every buffer is exactly its size on the heap.
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

using Buffer = std::unique_ptr<uint8_t[]>;

Buffer Exact(size_t size) {
    return Buffer(new uint8_t[size > 0 ? size : 1]);
}

void CompressBlock(const uint8_t* data, size_t size) {
    Buffer fast = Exact(2 * size), plain = Exact(2 * size), back = Exact(size);
    const size_t length = cv::DictCompress(data, size, fast.get());
    FUZZ_CHECK(length == cv::reference::Compress(data, size, plain.get()));
    FUZZ_CHECK(length == 0 || std::memcmp(fast.get(), plain.get(), length) == 0);
    size_t back_length = 0;
    FUZZ_CHECK(cv::DictDecompress(fast.get(), length, back.get(), size, &back_length));
    FUZZ_CHECK(back_length == size && (size == 0 || std::memcmp(back.get(), data, size) == 0));
}

// With room for every code word at its longest (63 bytes), and with a little room.
void DecompressStream(const uint8_t* stream, size_t length) {
    for (size_t capacity : {length / 2 * 63 + 1, length / 3}) {
        Buffer fast = Exact(capacity), plain = Exact(capacity);
        size_t fast_length = 99, plain_length = 99;
        const bool ok = cv::DictDecompress(stream, length, fast.get(), capacity, &fast_length);
        FUZZ_CHECK(ok ==
                   cv::reference::Decompress(stream, length, plain.get(), capacity, &plain_length));
        FUZZ_CHECK(!ok ||
                   (fast_length == plain_length && fast_length <= capacity &&
                    (fast_length == 0 || std::memcmp(fast.get(), plain.get(), fast_length) == 0)));
    }
}

// Into a record of each size that travels as a parameter.
void Unpack(const uint8_t* data, size_t size) {
    const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();
    Buffer stream = Exact(text.size() + 1);
    const int stream_length = cv::Base64Decode(text.c_str(), stream.get(), text.size() + 1);
    for (size_t record : {4, 648, 5388, 8772, 8780}) {
        Buffer destination = Exact(record), expected = Exact(record);
        std::memset(destination.get(), 0xA5, record);
        const int result = cv::UnpackParameter(text.c_str(), destination.get(), record);
        size_t expected_length = 0;
        const bool decodes =
            stream_length >= 0 &&
            (stream_length < 2 ||
             cv::reference::Decompress(stream.get(), static_cast<size_t>(stream_length),
                                       expected.get(), record, &expected_length));
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
