// Base64 as a reply carries it: any text decodes to the bytes it stands for or is refused, never
// read or written past its buffers; a text that decodes is the one text the encoder writes for
// those bytes (but for white space); and every block comes back from its own encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "remote/base64.h"
#include "remote/packing.h"

namespace {

// A buffer of exactly this many bytes on the heap, so that a step past its end is reported.
std::unique_ptr<uint8_t[]> Exact(size_t size) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[size > 0 ? size : 1]);
}

void DecodeText(const std::string& text) {
    const size_t capacity = text.size() + 1;  // always enough: three bytes per four characters
    auto out = Exact(capacity);
    const int n = cv::Base64Decode(text.c_str(), out.get(), capacity);
    if (n < 0) return;

    // The encoder's text for these bytes is the input without its white space.
    std::string canonical;
    for (char c : text) {
        if (!std::strchr(" \t\n\v\f\r", c)) canonical.push_back(c);
    }
    std::string encoded(canonical.size() + 1, '\0');
    FUZZ_CHECK(cv::Base64Encode(out.get(), static_cast<size_t>(n), &encoded[0], encoded.size()) ==
               static_cast<int>(canonical.size()));
    FUZZ_CHECK(std::memcmp(encoded.data(), canonical.data(), canonical.size()) == 0);

    // One byte more than the result is always room enough; fewer bytes than the result never.
    auto tight = Exact(static_cast<size_t>(n) + 1);
    FUZZ_CHECK(cv::Base64Decode(text.c_str(), tight.get(), static_cast<size_t>(n) + 1) == n);
    FUZZ_CHECK(std::memcmp(tight.get(), out.get(), static_cast<size_t>(n)) == 0);
    if (n > 0) {
        auto small = Exact(static_cast<size_t>(n) - 1);
        FUZZ_CHECK(cv::Base64Decode(text.c_str(), small.get(), static_cast<size_t>(n) - 1) == -1);
    }
}

void EncodeBlock(const uint8_t* data, size_t size) {
    const size_t length = (size + 2) / 3 * 4;
    auto text = Exact(length + 1);
    char* chars = reinterpret_cast<char*>(text.get());
    FUZZ_CHECK(cv::Base64Encode(data, size, chars, length + 1) == static_cast<int>(length));
    FUZZ_CHECK(std::strlen(chars) == length);
    auto back = Exact(size + 1);
    FUZZ_CHECK(cv::Base64Decode(chars, back.get(), size + 1) == static_cast<int>(size));
    FUZZ_CHECK(size == 0 || std::memcmp(back.get(), data, size) == 0);

    // No room for the NUL: refused, and the text left empty.
    auto short_text = Exact(length);
    char* short_chars = reinterpret_cast<char*>(short_text.get());
    FUZZ_CHECK(cv::Base64Encode(data, size, short_chars, length) == -1);
    FUZZ_CHECK(length == 0 || short_chars[0] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodeText(std::string(reinterpret_cast<const char*>(data), size).c_str());
    EncodeBlock(data, size);
    return 0;
}
