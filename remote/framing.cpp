#include "remote/framing.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/diagnostics.h"
#include "common/text_helpers.h"

namespace cv {
namespace {

constexpr char kParametersEnd[] = "</PARAMETERS>";

// The size text of a reply parameter is read from a buffer of this many bytes with its NUL.
constexpr size_t kSizeTextBuffer = 260;

}  // namespace

int BuildExecRequest(char* request, const char* function) {
    const bool fits = FormatBounded(
        request, kRemoteBufferSize,
        "<DATA><METHOD>EXEC</METHOD><FUNCTION>%s</FUNCTION><PARAMETERS></PARAMETERS></DATA>",
        function);
    return fits ? 1 : 0;
}

int AddRequestParameter(char* request, int number, const void* data, size_t size) {
    if (size > static_cast<size_t>(INT_MAX)) return 0;
    std::unique_ptr<char[]> work(new (std::nothrow) char[2 * kRemoteBufferSize]);
    if (!work) return 0;
    char* packed = work.get();
    char* element = work.get() + kRemoteBufferSize;
    if (!PackParameter(data, size, packed, kRemoteBufferSize)) return 0;
    if (packed[0] == '\0') Diagnose("Warning: Serialising returned empty buffer\n");
    if (!FormatBounded(element, kRemoteBufferSize, "<PARAMETER%d SIZE=%d>%s</PARAMETER%d>", number,
                       static_cast<int>(size), packed, number)) {
        return 0;
    }
    if (std::strstr(request, kParametersEnd) == nullptr) {
        Diagnose("{%s}\n", request);
        return 1;
    }
    // The packed text is no longer needed: its buffer takes the copy the element is inserted
    // into. A request that would not fit its buffer is refused whole rather than cut.
    char* copy = packed;
    if (!CopyBounded(copy, request, kRemoteBufferSize)) return 0;
    return InsertBeforeMarker(copy, kParametersEnd, element, request, kRemoteBufferSize);
}

int InsertBeforeMarker(const char* text, const char* marker, const char* insert, char* out,
                       size_t out_size) {
    const char* at = std::strstr(text, marker);
    const size_t text_length = std::strlen(text);
    const size_t insert_length = at != nullptr ? std::strlen(insert) : 0;
    if (text_length >= out_size || insert_length >= out_size - text_length) return 0;
    if (at == nullptr) {
        std::memcpy(out, text, text_length + 1);
        return 0;
    }
    const size_t head = static_cast<size_t>(at - text);
    std::memcpy(out, text, head);
    std::memcpy(out + head, insert, insert_length);
    std::memcpy(out + head + insert_length, at, text_length - head + 1);
    return 1;
}

int ExtractReplyParameter(const char* reply, int number, char* out, size_t out_size,
                          long* size_value) {
    if (size_value != nullptr) *size_value = 0;
    char opening[256];
    char closing[256];
    std::snprintf(opening, sizeof opening, "<PARAMETER%d", number);
    std::snprintf(closing, sizeof closing, "</PARAMETER%d>", number);
    // The number ends where the digits end: the opening of parameter 10 is not one of 1.
    const size_t opening_length = std::strlen(opening);
    const char* start = std::strstr(reply, opening);
    while (start != nullptr && start[opening_length] >= '0' && start[opening_length] <= '9') {
        start = std::strstr(start + opening_length, opening);
    }
    if (start == nullptr) return 0;
    const char* size_text = std::strstr(start, "SIZE=");
    if (size_text == nullptr) return 0;
    size_text += 5;
    const char* content = std::strchr(size_text, '>');
    if (content == nullptr) return 0;
    const size_t size_length = static_cast<size_t>(content - size_text);
    if (size_length >= kSizeTextBuffer) return 0;
    ++content;
    const char* end = std::strstr(content, closing);
    if (end == nullptr) return 0;
    const size_t content_length = static_cast<size_t>(end - content);
    if (content_length >= out_size) return 0;
    char size_buffer[kSizeTextBuffer];
    std::memcpy(size_buffer, size_text, size_length);
    size_buffer[size_length] = '\0';
    if (size_value != nullptr) *size_value = std::atol(size_buffer);
    std::memcpy(out, content, content_length);
    out[content_length] = '\0';
    return 1;
}

int ReadReplyParameter(const char* reply, int number, void* destination, size_t destination_size) {
    std::unique_ptr<char[]> content(new (std::nothrow) char[kRemoteBufferSize]);
    if (!content) return 0;
    if (!ExtractReplyParameter(reply, number, content.get(), kRemoteBufferSize, nullptr)) return 0;
    return UnpackParameter(content.get(), destination, destination_size);
}

}  // namespace cv
