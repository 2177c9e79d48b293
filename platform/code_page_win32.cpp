// The Windows build's 8-bit code page is the system's ANSI code page; see code_page.h.
#include <windows.h>

#include "platform/code_page.h"

namespace cv {

std::string CodePageToUtf8(const std::string& text) {
    if (text.empty() || IsUtf8(text)) return text;
    const int size = static_cast<int>(text.size());
    int wide_size = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wide_size <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(wide_size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], wide_size);
    int utf8_size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    if (utf8_size <= 0) return std::string();
    std::string utf8(static_cast<size_t>(utf8_size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, &utf8[0], utf8_size, nullptr, nullptr);
    return utf8;
}

std::string Utf8ToCodePage(const std::string& text) {
    if (text.empty()) return text;
    const int size = static_cast<int>(text.size());
    int wide_size = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (wide_size <= 0) return text;
    std::wstring wide(static_cast<size_t>(wide_size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], wide_size);
    int ansi_size =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    if (ansi_size <= 0) return text;
    std::string ansi(static_cast<size_t>(ansi_size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_size, &ansi[0], ansi_size, nullptr, nullptr);
    return ansi;
}

// This build's texts are in the wire's code page already.
bool ToWireText(std::string_view text, std::string* out) {
    out->assign(text);
    return true;
}

void FromWireText(std::string_view text, std::string* out) {
    out->assign(text);
}

const char* WireCodePageName() {
    return "the ANSI code page";
}

}  // namespace cv
