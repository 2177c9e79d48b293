// The printable form of a packed parameter's code stream (packing.h).
#pragma once

#include <cstddef>

namespace cv {

// RFC 4648 Base64 with "=" padding and no line breaks. Writes the text and its NUL and answers the
// number of characters, or -1 when they do not fit the capacity (text is then empty when it has
// room for that).
int Base64Encode(const void* data, size_t length, char* text, size_t capacity);

// Decodes a NUL-terminated Base64 text, skipping whitespace anywhere, and answers the number of
// bytes, or -1 for malformed text (a character outside the alphabet, a partial group, misplaced
// or trailing "=", unused bits that are not zero) or when capacity is too small. A text that ends
// in padding needs room for one byte more than it decodes to.
int Base64Decode(const char* text, void* out, size_t capacity);

}  // namespace cv
