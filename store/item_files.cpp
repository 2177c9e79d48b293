#include "store/item_files.h"

#include "common/text_helpers.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"

namespace cv {
namespace {

bool Fits(const std::string& name, size_t field) {
    return name.size() < field && name.find('\0') == std::string::npos &&
           IsPathComponent(name.c_str(), name.size() + 1);
}

// The item's path, when the names are what an item record could carry.
bool ItemPath(const std::string& postoffice, const std::string& mailbox, const std::string& name,
              char (&path)[kPathSize]) {
    const AppointmentItemRequest* record = nullptr;
    return Fits(postoffice, sizeof record->Postoffice) && Fits(mailbox, sizeof record->Mailbox) &&
           Fits(name, sizeof record->ItemFileName) &&
           CalendarFilePath(path, sizeof path, postoffice.c_str(), mailbox.c_str(), name.c_str());
}

}  // namespace

bool WriteItemFile(const std::string& postoffice, const std::string& mailbox,
                   const std::string& name, const std::string& bytes) {
    char path[kPathSize];
    char temporary[kPathSize];
    if (bytes.find('\0') != std::string::npos || !ItemPath(postoffice, mailbox, name, path) ||
        !FormatBounded(temporary, sizeof temporary, "%s.TMP", path)) {
        return false;
    }
    File file;
    bool written =
        file.Open(temporary, File::Mode::kWriteTruncate) && file.Write(bytes.data(), bytes.size());
    written = file.Close() && written;
    if (written && ReplaceFileWith(temporary, path)) return true;
    RemoveFile(temporary);
    return false;
}

bool DeleteItemFile(const std::string& postoffice, const std::string& mailbox,
                    const std::string& name) {
    char path[kPathSize];
    if (!ItemPath(postoffice, mailbox, name, path)) return false;
    return RemoveFile(path) || LastSystemError() == kErrorFileNotFound;
}

}  // namespace cv
