// Base64 as a reply carries it: any text decodes to the bytes it stands for or is refused, never
// read or written past its buffers (each exactly its size on the heap); a text that decodes is
// the one text the encoder writes for those bytes (but for white space); and every block comes
// back from its own encoding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "remote/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[text.size() + 1]);  // always room enough
    const int n = cv::Base64Decode(text.c_str(), bytes.get(), text.size() + 1);
    if (n >= 0) {
        std::string canonical;
        for (char c : text) {
            if (!std::strchr(" \t\n\v\f\r", c)) canonical.push_back(c);
        }
        std::unique_ptr<char[]> encoded(new char[canonical.size() + 1]);
        FUZZ_CHECK(cv::Base64Encode(bytes.get(), static_cast<size_t>(n), encoded.get(),
                                    canonical.size() + 1) == static_cast<int>(canonical.size()));
        FUZZ_CHECK(canonical == encoded.get());
    }

    const size_t length = (size + 2) / 3 * 4;
    std::unique_ptr<char[]> encoded(new char[length + 1]);
    FUZZ_CHECK(cv::Base64Encode(data, size, encoded.get(), length + 1) == static_cast<int>(length));
    std::unique_ptr<uint8_t[]> back(new uint8_t[size + 1]);
    FUZZ_CHECK(cv::Base64Decode(encoded.get(), back.get(), size + 1) == static_cast<int>(size));
    FUZZ_CHECK(size == 0 || std::memcmp(back.get(), data, size) == 0);
    return 0;
}
