// Text between delimiters: the one family of helpers that cut a piece out of a text by the
// markers around it, or by the separators between fields. Each keeps the exact rules its callers
// have always had, which differ in small ways (stated with each).
#pragma once

#include <cstddef>
#include <string>

namespace cv {

// The text between the first occurrence of open (the beginning of the text when open is empty)
// and the next occurrence of close after it, copied into out (cut to out_size). The position just
// after the close marker, or null when either marker is missing (out untouched).
const char* TextBetween(const char* text, const char* open, const char* close, char* out,
                        size_t out_size);

// The same over a string, the whole piece: false when either marker is missing (out untouched).
bool TextBetween(const std::string& text, const char* open, const char* close, std::string* out);

// Field n (counted from 1) of a text split by a delimiter of one or more characters, copied into
// out (out_size bytes, cut to fit). Without any delimiter in the text, field 1 (or less) is the
// whole text and a later field fails (0, out untouched); with delimiters, a field beyond the last
// is the empty text. 1 otherwise.
int DelimitedField(const char* text, const char* delimiter, int n, char* out, size_t out_size);

// Number of fields the separator divides the text into: 0 for an empty text, else 1 plus the
// separators found, each search starting one character past the previous hit (so a separator at
// the very start does not count). At most 1000.
int CountDelimitedFields(const char* text, const char* separator);

}  // namespace cv
