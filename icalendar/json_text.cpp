#include "icalendar/json_text.h"

#include <cstdint>

namespace cvical {
namespace {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one (overlong
// forms, surrogates and values past U+10FFFF included).
size_t SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t first = byte(0);
    size_t length = first < 0xC2 ? 0 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : first < 0xF5 ? 4 : 0;
    if (length == 0 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
    }
    if (length == 3 && ((first == 0xE0 && byte(1) < 0xA0) || (first == 0xED && byte(1) >= 0xA0))) {
        return 0;
    }
    if (length == 4 && ((first == 0xF0 && byte(1) < 0x90) || (first == 0xF4 && byte(1) >= 0x90))) {
        return 0;
    }
    return length;
}

}  // namespace

void AppendJsonString(std::string* out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out->reserve(out->size() + text.size() + 2);
    *out += '"';
    for (size_t i = 0; i < text.size();) {
        // A run of characters that stand for themselves goes in whole: most of a text is.
        size_t plain = i;
        while (plain < text.size()) {
            const uint8_t p = static_cast<uint8_t>(text[plain]);
            if (p < 0x20 || p >= 0x80 || p == '"' || p == '\\') break;
            ++plain;
        }
        if (plain > i) {
            out->append(text.data() + i, plain - i);
            i = plain;
            continue;
        }
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= 0x80) {
            const size_t length = SequenceLength(text.substr(i));
            if (length == 0) {
                *out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out->append(text.data() + i, length);
                i += length;
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += static_cast<char>(c);
        } else if (c == '\n') {
            *out += "\\n";
        } else if (c == '\r') {
            *out += "\\r";
        } else if (c == '\t') {
            *out += "\\t";
        } else {
            *out += "\\u00";
            *out += kHex[c >> 4];
            *out += kHex[c & 15];
        }
        ++i;
    }
    *out += '"';
}

}  // namespace cvical
