#include "tools/cvcal/calendar_folder.h"

#include <algorithm>

#include "platform/platform.h"

namespace cvcal {
namespace {

std::vector<std::string> Matches(const std::string& pattern, size_t cut) {
    std::vector<std::string> names;
    cv::DirectorySearch search;
    cv::FindData entry;
    for (bool found = search.First(pattern.c_str(), &entry); found; found = search.Next(&entry)) {
        if (entry.attributes & cv::kAttributeDirectory || entry.name.size() <= cut) continue;
        names.push_back(entry.name.substr(0, entry.name.size() - cut));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<std::string> PeriodNames(const std::string& calendar) {
    return Matches(calendar + "\\Y*.CAL", 4);
}

std::vector<std::string> FileNamesBeginning(const std::string& calendar,
                                            const std::string& prefix) {
    return Matches(calendar + "\\" + prefix + "*", 0);
}

}  // namespace cvcal
