#include "common/delimited_text.h"

#include <cstring>

#include "common/text_helpers.h"

namespace cv {

const char* TextBetween(const char* text, const char* open, const char* close, char* out,
                        size_t out_size) {
    const char* from = text;
    if (open[0] != '\0') {
        from = std::strstr(text, open);
        if (from == nullptr) return nullptr;
        from += std::strlen(open);
    }
    const char* to = std::strstr(from, close);
    if (to == nullptr || out_size == 0) return nullptr;
    size_t length = static_cast<size_t>(to - from);
    if (length >= out_size) length = out_size - 1;
    std::memcpy(out, from, length);
    out[length] = '\0';
    return to + std::strlen(close);
}

bool TextBetween(const std::string& text, const char* open, const char* close, std::string* out) {
    std::string::size_type start = text.find(open);
    if (start == std::string::npos) return false;
    start += std::strlen(open);
    std::string::size_type end = text.find(close, start);
    if (end == std::string::npos) return false;
    *out = text.substr(start, end - start);
    return true;
}

int DelimitedField(const char* text, const char* delimiter, int n, char* out, size_t out_size) {
    size_t delimiter_length = std::strlen(delimiter);
    const char* first = delimiter_length ? std::strstr(text, delimiter) : nullptr;
    if (first == nullptr) {
        if (n > 1) return 0;
        CopyBounded(out, text, out_size);
        return 1;
    }
    const char* field = text;
    const char* end = first;
    for (int k = 1; k < n; ++k) {
        if (end == nullptr) {  // fewer than n fields
            if (out_size) out[0] = '\0';
            return 1;
        }
        field = end + delimiter_length;
        end = std::strstr(field, delimiter);
    }
    size_t length = end ? static_cast<size_t>(end - field) : std::strlen(field);
    if (out_size == 0) return 1;
    if (length >= out_size) length = out_size - 1;
    std::memcpy(out, field, length);
    out[length] = '\0';
    return 1;
}

int CountDelimitedFields(const char* text, const char* separator) {
    if (text == nullptr || text[0] == '\0') return 0;
    if (separator == nullptr || separator[0] == '\0') return 1;
    int count = 1;
    for (const char* hit = std::strstr(text + 1, separator); hit != nullptr && count < 1000;
         hit = hit[1] ? std::strstr(hit + 1, separator) : nullptr) {
        ++count;
    }
    return count;
}

}  // namespace cv
