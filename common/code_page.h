// The system's code page for 8-bit texts, and its way to UTF-8 for what the library and its tools
// hand out as XML or JSON.
#pragma once

#include <string>

namespace cv {

// An 8-bit text (NULs included) as UTF-8. On Windows the text is in the ANSI code page. Natively
// the code page is UTF-8: valid UTF-8 stays as it is, and every other byte (a header written in a
// Windows code page) is read as its Windows-1252 character, so that nothing is lost. Characters
// that XML cannot hold (U+FFFE, U+FFFF, surrogates) are not valid here.
std::string CodePageToUtf8(const std::string& text);

}  // namespace cv
