#include "icalendar/mailbox_calendar.h"

#include <algorithm>

#include "common/file_helpers.h"
#include "host/host_platform.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"
#include "store/store_state.h"

namespace cvical {
namespace {

// The store's state, started once for the process: the mail root is read as the library reads it
// when it loads.
bool StoreStarted() {
    static const bool started = cv::StartStoreState();
    return started;
}

// A postoffice or mailbox name that may become a folder of the path: what the store's records
// allow (one path component, no wildcard) and fits their fields, without a NUL that would cut it.
bool UsableName(const std::string& name) {
    return name.size() < sizeof(AppointmentRequest{}.Mailbox) &&
           name.find('\0') == std::string::npos &&
           cv::IsPathComponent(name.c_str(), name.size() + 1);
}

std::vector<std::string> Matches(const std::string& pattern, size_t cut) {
    std::vector<std::string> names;
    cv::DirectorySearch search;
    cv::FindData entry;
    for (bool found = search.First(pattern.c_str(), &entry, cv::DirectorySearch::Detail::kName);
         found; found = search.Next(&entry)) {
        if (entry.attributes & cv::kAttributeDirectory || entry.name.size() <= cut) continue;
        names.push_back(entry.name.substr(0, entry.name.size() - cut));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

bool MailboxCalendar::Open(const std::string& postoffice, const std::string& mailbox,
                           MailboxCalendar* out, std::string* error, OpenFailure* failure) {
    auto refuse = [&](OpenFailure why, const std::string& message) {
        if (failure != nullptr) *failure = why;
        *error = message;
        return false;
    };
    if (!UsableName(postoffice)) return refuse(OpenFailure::kBadName, "not a postoffice name");
    if (!UsableName(mailbox)) return refuse(OpenFailure::kBadName, "not a mailbox name");
    StoreStarted();
    const std::string root = cv::MailRoot();
    if (root.empty()) return refuse(OpenFailure::kNoMailRoot, "no mail root configured");
    const std::string mailbox_folder = root + "\\" + postoffice + "\\MAILROOT\\" + mailbox;
    if (!cv::FolderExists(mailbox_folder.c_str())) {
        return refuse(OpenFailure::kNoMailbox,
                      "no mailbox folder " + cv::SystemPath(mailbox_folder));
    }
    out->postoffice_ = postoffice;
    out->mailbox_ = mailbox;
    out->store_folder_ = mailbox_folder + "\\Calendar";
    out->folder_ = cv::SystemPath(out->store_folder_);
    return true;
}

bool MailboxCalendar::ReadItem(const std::string& id, std::string* bytes) const {
    if (id.find('\0') != std::string::npos || !cv::IsPathComponent(id.c_str(), id.size() + 1)) {
        return false;
    }
    const std::string path = store_folder_ + "\\" + id;
    return cv::ReadWholeFile(path.c_str(), bytes);
}

std::vector<std::string> MailboxCalendar::ItemNamesBeginning(const std::string& prefix) const {
    // A wildcard or separator in the prefix would widen the search beyond the names asked for.
    if (prefix.find_first_of("\\/:*?", 0) != std::string::npos ||
        prefix.find('\0') != std::string::npos) {
        return {};
    }
    return Matches(store_folder_ + "\\" + prefix + "*", 0);
}

std::vector<std::string> MailboxCalendar::PeriodNames() const {
    return Matches(store_folder_ + "\\Y*.CAL", 4);
}

}  // namespace cvical
