// The code page of 8-bit texts, and the ways between it and UTF-8: for what the library and its
// tools hand out as XML or JSON, and for the texts that travel to and from a remote admin service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cv {

// An 8-bit text (NULs included) as UTF-8. Valid UTF-8 stays as it is, whichever build wrote it;
// other bytes are in the code page of 8-bit texts: the ANSI code page on Windows (a text that is
// not UTF-8 through and through is converted from it whole, as multi-byte code pages need),
// Windows-1252 natively (each byte that is no part of a UTF-8 sequence), so that items written by
// either build and by the mail server's hosts read the same in both. Characters that XML cannot
// hold (U+FFFE, U+FFFF, surrogates) are not valid UTF-8 here.
std::string CodePageToUtf8(const std::string& text);

// UTF-8 text in this build's code page: on Windows the ANSI code page (a character it has no byte
// for becomes its nearest, as the system converts), natively the text as it is.
std::string Utf8ToCodePage(const std::string& text);

// Whether the text is valid UTF-8 of characters XML can hold (the empty text is).
bool IsUtf8(std::string_view text);

// The texts of the records that travel to and from a remote admin service are in the Windows
// build's ANSI code page, whichever build sends them. On Windows texts are in it already and pass
// as they are. Natively this build's texts are UTF-8 and are converted, to and from Windows-1252:
// ToWireText is false for a character that the code page has no byte for. A native text that is
// not UTF-8 (a name in a Windows code page) is taken to be in the wire's code page already.
bool ToWireText(std::string_view text, std::string* out);
void FromWireText(std::string_view text, std::string* out);
// The wire's code page, for messages: "Windows-1252", or "the ANSI code page".
const char* WireCodePageName();

// Shared by the builds' conversions.
namespace utf8 {
// The length of the UTF-8 sequence of a character XML can hold at p, 0 when there is none
// there. p must be followed by a NUL or by at least three more bytes.
size_t SequenceLength(const unsigned char* p, const unsigned char* end);
void Append(std::string* out, uint32_t code);
uint32_t Decode(const unsigned char* p, size_t length);
}  // namespace utf8

}  // namespace cv
