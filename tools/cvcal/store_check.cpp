#include "tools/cvcal/store_check.h"

#include <random>

#include "common/file_helpers.h"
#include "common/host_platform.h"
#include "common/platform.h"
#include "common/registry.h"
#include "common/registry_writer.h"
#include "store/calendar_paths.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

void CheckFolderName(const std::string& name, const char* option) {
    if (!cv::IsPathComponent(name.c_str(), name.size() + 1)) {
        throw UsageError(std::string("--") + option + ": not a folder name: " + name);
    }
}

void RequireFolder(const std::string& path, const std::string& what, const std::string& hint) {
    if (cv::FolderExists(path.c_str())) return;
    std::string problem = cv::FileExists(path.c_str()) ? " is not a folder: " : " not found: ";
    throw Failure(kExitConfig, what + problem + ShownPath(path) + hint);
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
    std::string probe = folder + "\\.cvcal-probe-" + std::to_string(random());
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

std::string ConfiguredMailRoot() {
    char text[cv::kRegistryTextSize] = "";
    if (cv::GetRegistryString(cv::kStoreKey, "Mail Root", text)) return text;
    if (cv::GetRegistryString(cv::kStoreKey, "Data Directory", text)) {
        return std::string(text) + "\\Postoffices";
    }
    throw Failure(kExitConfig, "no mail root configured in " + cv::RegistryLocation() +
                                   " (cvcal config set-root DIR)");
}

std::string CheckMailbox(const std::string& postoffice, const std::string& mailbox, Access access) {
    CheckFolderName(postoffice, "postoffice");
    CheckFolderName(mailbox, "mailbox");
    std::string root = ConfiguredMailRoot();
    RequireFolder(root, "mail root", " (cvcal config set-root DIR)");
    std::string postoffice_folder = root + "\\" + postoffice;
    RequireFolder(postoffice_folder, "postoffice folder", "");
    std::string mailbox_folder = postoffice_folder + "\\MAILROOT\\" + mailbox;
    RequireFolder(mailbox_folder, "mailbox folder", "");
    std::string calendar = mailbox_folder + "\\Calendar";
    if (!cv::FolderExists(calendar.c_str())) {
        if (cv::FileExists(calendar.c_str())) {
            throw Failure(kExitConfig, "not a folder: " + ShownPath(calendar));
        }
        if (access == Access::kWrite && !FolderWritable(mailbox_folder)) {
            throw Failure(kExitConfig,
                          "cannot write the mailbox folder " + ShownPath(mailbox_folder));
        }
        return calendar;
    }
    if (!FolderReadable(calendar)) {
        throw Failure(kExitConfig, "cannot read the Calendar folder " + ShownPath(calendar));
    }
    if (access == Access::kWrite && !FolderWritable(calendar)) {
        throw Failure(kExitConfig, "cannot write the Calendar folder " + ShownPath(calendar));
    }
    return calendar;
}

}  // namespace cvcal
