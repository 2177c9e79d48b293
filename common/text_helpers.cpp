#include "common/text_helpers.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace cv {

const char* FindNoCase(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr) return nullptr;
    const size_t at = FindNoCaseIn(text, pattern);
    return at == std::string_view::npos ? nullptr : text + at;
}

size_t FindNoCaseIn(std::string_view text, std::string_view pattern) {
    const size_t pattern_length = pattern.size();
    if (pattern_length == 0 || pattern_length > text.size()) return std::string_view::npos;
    // The pattern's first letter is folded once rather than at every position of the text: the
    // index scan looks for two dozen header names in every header line it reads.
    const int first = std::tolower(static_cast<unsigned char>(pattern[0]));
    for (size_t start = 0; start + pattern_length <= text.size(); ++start) {
        if (std::tolower(static_cast<unsigned char>(text[start])) != first) continue;
        size_t i = 1;
        while (i < pattern_length && std::tolower(static_cast<unsigned char>(text[start + i])) ==
                                         std::tolower(static_cast<unsigned char>(pattern[i]))) {
            ++i;
        }
        if (i == pattern_length) return start;
    }
    return std::string_view::npos;
}

int CopyBounded(char* dest, const char* src, size_t size) {
    if (size == 0) return 0;
    size_t length = std::strlen(src);
    if (length < size) {
        std::memcpy(dest, src, length + 1);
        return 1;
    }
    std::memcpy(dest, src, size - 1);
    dest[size - 1] = '\0';
    return 0;
}

int AppendBounded(char* dest, const char* src, size_t size) {
    if (size == 0) return 0;
    size_t used = strnlen(dest, size);
    if (used >= size) {  // not even terminated inside its buffer: end it and append nothing
        dest[size - 1] = '\0';
        return 0;
    }
    size_t length = std::strlen(src);
    if (used + length < size) {
        std::memcpy(dest + used, src, length + 1);
        return 1;
    }
    size_t room = size - 1 - used;
    std::memcpy(dest + used, src, room);
    dest[size - 1] = '\0';
    return 0;
}

int32_t ReadDecimal(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= static_cast<int64_t>(INT32_MAX) + 1) value = value * 10 + (*text - '0');
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (std::tolower(static_cast<unsigned char>(*text)) !=
            std::tolower(static_cast<unsigned char>(*prefix))) {
            return false;
        }
    }
    return true;
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

bool FormatBounded(char* out, size_t size, const char* format, ...) {
    if (size == 0) return false;
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(out, size, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace cv
