// One mailbox's Calendar folder as the engine reaches it: its names checked and its path composed
// by the store's own rule (mail root, drive mapping, Data Directory), its files read directly.
// Writes go through the store floor (engine.cpp), never through this class.
#pragma once

#include <string>
#include <vector>

namespace cvical {

// Why Open refused.
enum class OpenFailure {
    kBadName,     // empty, ".", "..", or holding '/', '\', ':', '*', '?' or a NUL; or too long
    kNoMailRoot,  // neither "Mail Root" nor "Data Directory" is configured
    kNoMailbox,   // the mailbox's folder is not there (the store never makes one)
};

class MailboxCalendar {
  public:
    // Starts the store state once for the process (the mail root read from the registry, as the
    // library reads it when it loads), checks the names and composes the Calendar folder. The
    // Calendar folder itself need not exist: the first write makes it.
    static bool Open(const std::string& postoffice, const std::string& mailbox,
                     MailboxCalendar* out, std::string* error, OpenFailure* failure = nullptr);

    const std::string& postoffice() const { return postoffice_; }
    const std::string& mailbox() const { return mailbox_; }
    // The Calendar folder's path as this system names it (natively with slashes, in the letter
    // case the folders have on disk), and as the store composes it (with backslashes).
    const std::string& folder() const { return folder_; }
    const std::string& store_folder() const { return store_folder_; }

    // The whole item file of that name; false when there is none or it cannot be read, or the
    // name cannot be an item's.
    bool ReadItem(const std::string& id, std::string* bytes) const;
    // The names of the folder's files that begin with the prefix (letter case ignored), sorted.
    std::vector<std::string> ItemNamesBeginning(const std::string& prefix) const;
    // The period names of the folder's period files (Y*.CAL, without the extension), sorted.
    std::vector<std::string> PeriodNames() const;

  private:
    std::string postoffice_;
    std::string mailbox_;
    std::string folder_;
    std::string store_folder_;
};

}  // namespace cvical
