#include "tools/cvcal/store_check.h"

#include <cctype>
#include <random>

#include "common/file_helpers.h"
#include "host/host_platform.h"
#include "host/registry_writer.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "store/calendar_paths.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

void CheckFolderName(const std::string& name, const char* option) {
    if (!cv::IsPathComponent(name.c_str(), name.size() + 1)) {
        throw UsageError(std::string("--") + option + ": not a folder name: " + name);
    }
}

// `kind` names the folder for scripts: "mailbox" gives "mailbox-not-found".
void RequireFolder(const std::string& path, const std::string& what, const std::string& kind,
                   const std::string& hint) {
    if (cv::FolderExists(path.c_str())) return;
    const bool file = cv::FileExists(path.c_str());
    throw Failure(kExitConfig,
                  what + (file ? " is not a folder: " : " not found: ") + ShownPath(path) + hint,
                  kind + (file ? "-not-a-folder" : "-not-found"));
}

// A directory search fails with "not found" for an empty folder; anything else means it cannot
// be read.
bool FolderReadable(const std::string& folder) {
    cv::DirectorySearch search;
    cv::FindData entry;
    if (search.First((folder + "\\*").c_str(), &entry)) return true;
    uint32_t error = cv::LastSystemError();
    return error == cv::kErrorFileNotFound || error == cv::kErrorNoMoreFiles;
}

// Whether a file can be made in the folder: one is made and removed again. Its name cannot be
// taken for a period file, an item the index lists, or a blocking file.
bool FolderWritable(const std::string& folder) {
    std::random_device random;
    // A name without letters, which no entry can match in another case: making it does not
    // have the folder read (natively, every name of a Calendar folder) to look for such a twin.
    std::string probe = folder + "\\.~" + std::to_string(random());
    if (!cv::CreateNewFile(probe.c_str())) return false;
    cv::RemoveFile(probe.c_str());
    return true;
}

}  // namespace

bool BackslashPaths() {
    return cv::PathsUseBackslashes();
}

std::string ShownPath(const std::string& store_path) {
    if (BackslashPaths()) return store_path;
    std::string path = store_path;
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') path.erase(0, 2);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

std::string WithoutTrailingSeparators(const std::string& folder) {
    size_t end = folder.find_last_not_of("\\/");
    if (end == std::string::npos) return folder.substr(0, 1);  // the root itself
    if (folder[end] == ':') ++end;                             // "C:\" stays a drive's root
    return folder.substr(0, end + 1);
}

bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 3 && std::isalpha(path[0] & 0xFF) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

std::string ConfiguredMailRoot() {
    char text[cv::kRegistryTextSize] = "";
    // The library joins the root and the names with a separator of its own; one at the root's
    // end is doubled, which the system takes as one.
    if (cv::GetRegistryString(cv::kStoreKey, "Mail Root", text)) {
        return WithoutTrailingSeparators(text);
    }
    if (cv::GetRegistryString(cv::kStoreKey, "Data Directory", text)) {
        return WithoutTrailingSeparators(text) + "\\Postoffices";
    }
    throw Failure(
        kExitConfig,
        "no mail root configured in " + cv::RegistryLocation() + " (cvcal config set-root DIR)",
        "mail-root-not-configured");
}

std::string CheckMailbox(const std::string& postoffice, const std::string& mailbox, Access access) {
    CheckFolderName(postoffice, "postoffice");
    CheckFolderName(mailbox, "mailbox");
    std::string root = ConfiguredMailRoot();
    RequireFolder(root, "mail root", "mail-root", " (cvcal config set-root DIR)");
    std::string postoffice_folder = root + "\\" + postoffice;
    RequireFolder(postoffice_folder, "postoffice folder", "postoffice", "");
    std::string mailbox_folder = postoffice_folder + "\\MAILROOT\\" + mailbox;
    RequireFolder(mailbox_folder, "mailbox folder", "mailbox", "");
    std::string calendar = mailbox_folder + "\\Calendar";
    if (!cv::FolderExists(calendar.c_str())) {
        if (cv::FileExists(calendar.c_str())) {
            throw Failure(kExitConfig, "not a folder: " + ShownPath(calendar),
                          "calendar-not-a-folder");
        }
        if (access == Access::kWrite && !FolderWritable(mailbox_folder)) {
            throw Failure(kExitConfig,
                          "cannot write the mailbox folder " + ShownPath(mailbox_folder),
                          "mailbox-not-writable");
        }
        return calendar;
    }
    if (!FolderReadable(calendar)) {
        throw Failure(kExitConfig, "cannot read the Calendar folder " + ShownPath(calendar),
                      "calendar-not-readable");
    }
    if (access == Access::kWrite && !FolderWritable(calendar)) {
        throw Failure(kExitConfig, "cannot write the Calendar folder " + ShownPath(calendar),
                      "calendar-not-writable");
    }
    return calendar;
}

}  // namespace cvcal
