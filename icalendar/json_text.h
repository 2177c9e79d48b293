// JSON strings written straight into an answer: a listing of 50,000 objects built as nlohmann
// values first took the better part of a second.
#pragma once

#include <string>
#include <string_view>

namespace cvical {

// Appends the text as a JSON string, quotes included. Bytes that are not UTF-8 become U+FFFD:
// an answer is always valid JSON.
void AppendJsonString(std::string* out, std::string_view text);

}  // namespace cvical
