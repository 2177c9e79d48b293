// XML as people read it: one element a line, children indented by two spaces. An element that
// holds only text stays on one line with it.
#pragma once

#include <string>

namespace cvcal {

std::string IndentXml(const std::string& xml);

}  // namespace cvcal
