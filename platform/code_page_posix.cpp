// This build's texts are UTF-8, and its 8-bit code page Windows-1252; see code_page.h.
#include <cstddef>
#include <cstdint>

#include "platform/code_page.h"

namespace cv {
namespace {

// Windows-1252 as the Windows build converts it: 0x80-0x9F as below (the five bytes the code page
// leaves open as the C1 controls, as the system's conversion does), and 0xA0-0xFF as Latin-1.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t Windows1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
}

// The byte of a character in Windows-1252, -1 when it has none.
int Windows1252Byte(uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == code) return 0x80 + i;
    }
    return -1;
}

}  // namespace

std::string CodePageToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        if (size_t length = *p ? utf8::SequenceLength(p, end) : 1) {
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
            continue;
        }
        utf8::Append(&out, Windows1252(*p++));
    }
    return out;
}

std::string Utf8ToCodePage(const std::string& text) {
    return text;
}

bool ToWireText(std::string_view text, std::string* out) {
    out->clear();
    if (!IsUtf8(text)) {
        out->assign(text);
        return true;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        size_t length = *p ? utf8::SequenceLength(p, end) : 1;
        int byte = Windows1252Byte(utf8::Decode(p, length));
        if (byte < 0) return false;
        out->push_back(static_cast<char>(byte));
        p += length;
    }
    return true;
}

void FromWireText(std::string_view text, std::string* out) {
    out->clear();
    out->reserve(text.size());
    for (unsigned char byte : text) utf8::Append(out, Windows1252(byte));
}

const char* WireCodePageName() {
    return "Windows-1252";
}

}  // namespace cv
