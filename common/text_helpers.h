// String helpers over NUL-terminated 8-bit texts in fixed buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cv {

// First occurrence of the pattern in the text, letters compared without regard to case; null for
// an absent or empty pattern or one longer than the text.
const char* FindNoCase(const char* text, const char* pattern);
// The same over a text of known length: the offset of the match, or npos.
size_t FindNoCaseIn(std::string_view text, std::string_view pattern);

// Copies src into dest of the given size. Non-zero when it fit; otherwise dest holds the first
// size - 1 characters and the result is 0.
int CopyBounded(char* dest, const char* src, size_t size);

// Appends src to the text in dest of the given size. Non-zero when it fit whole; otherwise as much
// as fits is appended, dest stays NUL-terminated, and the result is 0.
int AppendBounded(char* dest, const char* src, size_t size);

// A decimal number as atoi reads it (leading white space, a sign, the digits up to the first other
// character; 0 without digits), held at the 32-bit bounds instead of overflowing.
int32_t ReadDecimal(const char* text);

// Whether the text begins with the prefix, letters compared without regard to case.
bool StartsWithNoCase(const char* text, const char* prefix);

// An ASCII letter in lower case, anything else as it is: for names that are ASCII by definition
// (header names, month names, file names), whose matching must not follow a host's locale.
constexpr char FoldAscii(char c) {
    // One unsigned comparison and no branch, so that a loop over a text runs many bytes at a time.
    return static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 'a' - 'A' : 0));
}

// Compares two texts without regard to case (the C runtime's locale-aware folding).
int CompareNoCase(const char* a, const char* b);

// snprintf into a fixed buffer that refuses to cut: false (and an empty buffer) when the text
// does not fit. Paths are composed this way, so that an over-long name fails instead of naming
// another file.
bool FormatBounded(char* out, size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // namespace cv
