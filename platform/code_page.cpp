// UTF-8 as both builds read it; see code_page.h.
#include "platform/code_page.h"

namespace cv {
namespace utf8 {
namespace {

bool IsContinuation(const unsigned char* p, const unsigned char* end, unsigned char low = 0x80,
                    unsigned char high = 0xBF) {
    return p < end && *p >= low && *p <= high;
}

}  // namespace

size_t SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return IsContinuation(p + 1, end) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (!IsContinuation(p + 1, end, low, high) || !IsContinuation(p + 2, end)) return 0;
        return lead == 0xEF && p[1] == 0xBF && p[2] >= 0xBE ? 0 : 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return IsContinuation(p + 1, end, low, high) && IsContinuation(p + 2, end) &&
                       IsContinuation(p + 3, end)
                   ? 4
                   : 0;
    }
    return 0;
}

void Append(std::string* out, uint32_t code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

uint32_t Decode(const unsigned char* p, size_t length) {
    static const unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t code = p[0] & kLeadMask[length];
    for (size_t i = 1; i < length; ++i) code = (code << 6) | (p[i] & 0x3F);
    return code;
}

}  // namespace utf8

bool IsUtf8(std::string_view text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        size_t length = *p ? utf8::SequenceLength(p, end) : 1;
        if (length == 0) return false;
        p += length;
    }
    return true;
}

}  // namespace cv
