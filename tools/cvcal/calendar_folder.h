// Names in a local Calendar folder, read from its directory (the library has no export that lists
// it): period files, and item files by the beginning of their names.
#pragma once

#include <string>
#include <vector>

namespace cvcal {

// The period names of the folder's period files (Y*.CAL, without the extension), sorted.
std::vector<std::string> PeriodNames(const std::string& calendar);

// The names of the folder's files that begin with the prefix (letter case ignored), sorted.
std::vector<std::string> FileNamesBeginning(const std::string& calendar, const std::string& prefix);

}  // namespace cvcal
