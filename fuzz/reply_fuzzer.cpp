// Reply parameters, found by plain string search in whatever the service sent. Any reply text:
// a parameter is found exactly where the framing rules put it, its content is copied whole or
// not at all, and what is not found leaves the caller's buffers alone. Any block: added to a
// request, it is found and unpacked from there byte for byte.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/diagnostics.h"
#include "fuzz/fuzz_check.h"
#include "remote/framing.h"
#include "remote/packing.h"

namespace {

// Where the framing rules find parameter `number`: the first opening "<PARAMETERn" not followed
// by a further digit, the first "SIZE=" after it, the first ">" after that (at most 259
// characters of size text), then up to the first closing "</PARAMETERn>".
bool Expected(const std::string& reply, int number, std::string* content) {
    const std::string opening = "<PARAMETER" + std::to_string(number);
    size_t start = reply.find(opening);
    while (start != std::string::npos &&
           std::isdigit(static_cast<unsigned char>(reply[start + opening.size()]))) {
        start = reply.find(opening, start + opening.size());
    }
    const size_t size_text = start == std::string::npos ? start : reply.find("SIZE=", start);
    if (size_text == std::string::npos) return false;
    const size_t close = reply.find('>', size_text + 5);
    if (close == std::string::npos || close - size_text - 5 > 259) return false;
    const size_t end = reply.find("</PARAMETER" + std::to_string(number) + ">", close + 1);
    if (end == std::string::npos) return false;
    *content = reply.substr(close + 1, end - close - 1);
    return true;
}

void FindIn(const std::string& reply, int number) {
    std::string expected;
    const bool found = Expected(reply, number, &expected);
    for (size_t out_size : {cv::kRemoteBufferSize, size_t{16}}) {
        std::unique_ptr<char[]> out(new char[out_size]);
        std::memset(out.get(), 0x5A, out_size);
        long size_value = -7;
        const bool fits = found && expected.size() < out_size;
        FUZZ_CHECK(cv::ExtractReplyParameter(reply.c_str(), number, out.get(), out_size,
                                             &size_value) == (fits ? 1 : 0));
        FUZZ_CHECK(fits ? expected == out.get() : size_value == 0);
        for (size_t i = 0; !fits && i < out_size; ++i) FUZZ_CHECK(out[i] == 0x5A);
    }
    // Unpacking what was found: a failure leaves the record as it was.
    unsigned char record[648];
    std::memset(record, 0x5A, sizeof record);
    if (!cv::ReadReplyParameter(reply.c_str(), number, record, sizeof record)) {
        for (unsigned char c : record) FUZZ_CHECK(c == 0x5A);
    }
}

// The block as parameter 2 of a request, after a parameter 1 that holds a record of zeros.
void RoundTrip(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> request(new char[cv::kRemoteBufferSize]);
    FUZZ_CHECK(cv::BuildExecRequest(request.get(), "AppointmentEdit") == 1);
    const unsigned char zeros[648] = {};
    FUZZ_CHECK(cv::AddRequestParameter(request.get(), 1, zeros, sizeof zeros) == 1);
    const size_t before = std::strlen(request.get());
    if (!cv::AddRequestParameter(request.get(), 2, data, size)) {
        FUZZ_CHECK(std::strlen(request.get()) == before);  // refused whole, never cut
        return;
    }
    long size_value = 0;
    std::unique_ptr<char[]> content(new char[cv::kRemoteBufferSize]);
    FUZZ_CHECK(cv::ExtractReplyParameter(request.get(), 2, content.get(), cv::kRemoteBufferSize,
                                         &size_value) == 1);
    FUZZ_CHECK(size_value == static_cast<long>(size));
    // A block whose packed text does not fit a buffer goes out as an empty element.
    if (content[0] == '\0' && size > 0) return;
    std::unique_ptr<uint8_t[]> back(new uint8_t[size + 1]);
    back[size] = 0x5A;
    FUZZ_CHECK(cv::ReadReplyParameter(request.get(), 2, back.get(), size) == 1);
    FUZZ_CHECK((size == 0 || std::memcmp(back.get(), data, size) == 0) && back[size] == 0x5A);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Packing reports its progress at every parameter; nobody needs to read it here.
    cv::SetDiagnosticSink({[](void*, cv::DiagnosticLevel, const char*, size_t) {}, nullptr});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (int number : {0, 1, 2, 10, 12345}) FindIn(input.c_str(), number);  // a reply ends at a NUL
    RoundTrip(data, size);
    return 0;
}
