#include "remote/packing.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "common/diagnostics.h"
#include "remote/base64.h"
#include "remote/dictionary_coder.h"

namespace cv {

int PackParameter(const void* data, size_t size, char* text, size_t capacity) {
    if (capacity > 0) text[0] = '\0';
    if (size > static_cast<size_t>(INT_MAX) / 2) return 0;
    std::unique_ptr<uint8_t[]> stream(new (std::nothrow) uint8_t[size > 0 ? 2 * size : 1]);
    if (!stream) return 0;
    Diagnose("compressing...\n");
    const size_t stream_length = DictCompress(data, size, stream.get());
    Diagnose("Compressed size: %d\n", static_cast<int>(stream_length));
    int text_length = Base64Encode(stream.get(), stream_length, text, capacity);
    if (text_length < 0) text_length = 0;  // Base64Encode left the text empty
    Diagnose("Result of base64 encoding: %s\nSize:%d\n", capacity > 0 ? text : "", text_length);
    return 1;
}

int UnpackParameter(const char* text, void* destination, size_t destination_size) {
    Diagnose("decompressing\n");
    const size_t text_length = std::strlen(text);
    // The decoded stream is never longer than the text, and never more than the largest text a
    // reply can carry; the output is decoded aside so that a bad stream leaves the destination
    // as it was.
    const size_t stream_capacity =
        text_length + 1 < kRemoteBufferSize ? text_length + 1 : kRemoteBufferSize;
    if (destination_size > SIZE_MAX - stream_capacity) return 0;
    std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[stream_capacity + destination_size]);
    if (!work) return 0;
    uint8_t* stream = work.get();
    uint8_t* decoded = work.get() + stream_capacity;
    Diagnose("B64Source length: %d parameter size=%d\n", static_cast<int>(text_length),
             static_cast<int>(destination_size));
    const int stream_length = Base64Decode(text, stream, stream_capacity);
    Diagnose("Decoded size=%d\n", stream_length);
    if (stream_length < 0) return 0;
    size_t decoded_length = 0;
    if (stream_length >= 2) {
        if (!DictDecompress(stream, static_cast<size_t>(stream_length), decoded, destination_size,
                            &decoded_length)) {
            return 0;
        }
        std::memcpy(destination, decoded, decoded_length);
    }
    Diagnose("Uncompressed size=%d\n", static_cast<int>(decoded_length));
    Diagnose("Freeing\n");
    return 1;
}

}  // namespace cv
