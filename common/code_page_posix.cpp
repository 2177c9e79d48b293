// This build's code page is UTF-8; see code_page.h.
#include "common/code_page.h"

#include <cstddef>
#include <cstdint>

namespace cv {
namespace {

// Bytes that are not UTF-8 (header text written in a Windows code page) are read as Windows-1252,
// as the Windows build reads them: 0x80-0x9F as below, the five bytes the code page leaves open as
// the C1 controls, as the system's conversion does, and 0xA0-0xFF as Latin-1.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string* out, uint32_t code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool IsContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at p (a NUL-ended text: a NUL is never a
// continuation, so nothing past it is read) of a character that XML can hold, 0 when
// there is none (an overlong form, a surrogate, U+FFFE and U+FFFF, a byte out of place).
size_t Utf8Length(const unsigned char* p) {
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return IsContinuation(p[1]) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (!IsContinuation(p[1], low, high) || !IsContinuation(p[2])) return 0;
        return lead == 0xEF && p[1] == 0xBF && p[2] >= 0xBE ? 0 : 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return IsContinuation(p[1], low, high) && IsContinuation(p[2]) && IsContinuation(p[3]) ? 4
                                                                                               : 0;
    }
    return 0;
}

}  // namespace

std::string CodePageToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    const unsigned char* end = p + text.size();
    while (p < end) {
        if (size_t length = *p ? Utf8Length(p) : 1) {
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
            continue;
        }
        uint32_t code = *p++;
        if (code >= 0x80 && code < 0xA0) code = kHighControls[code - 0x80];
        AppendUtf8(&out, code);
    }
    return out;
}

}  // namespace cv
