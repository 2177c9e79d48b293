// The dictionary coder. The fast coder must agree byte for byte with the plain linear-scan one on
// every input: the same code stream for any block, the same bytes, length and verdict for any
// stream. Every buffer is exactly its size on the heap. (UnpackParameter, Base64 and then this
// coder, is fed any text by the reply fuzzer.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "remote/dictionary_coder.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CompressBlock(data, size);
    DecompressStream(data, size);
    return 0;
}
