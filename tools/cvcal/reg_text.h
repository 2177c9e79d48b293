// Changing one value of a ".reg" file the way a person edits it: every other line (comments,
// blank lines, the order of keys and values, values cvcal does not know) stays as it was. The
// file is written whole to a temporary file beside it and renamed over it, so that it is never
// seen half written; a file that is not a .reg file is never rewritten. A file that holds a host's
// credentials is written readable by its owner alone, and any other keeps who may read it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace cvcal {

// Whether the text begins with a .reg header, in any of the encodings a .reg file comes in.
bool HasRegHeader(const std::string& text);

// The text with the value set: its line replaced, or added at the end of its key, or the key
// added at the end of the text. `data` is the value as a .reg line writes it after "=".
std::string SetRegValue(const std::string& text, cv::Hive hive, const std::string& key,
                        const std::string& name, const std::string& data);

// `data` for a text value and for a number.
std::string RegString(const std::string& value);
std::string RegDword(uint32_t value);

// Sets the value in the file at path (created with a header when missing). False with a reason
// when the file cannot be read, is not a .reg file or cannot be written.
bool WriteRegValue(const std::string& path, cv::Hive hive, const std::string& key,
                   const std::string& name, const std::string& data, std::string* error);

}  // namespace cvcal
