#include "tools/cvcal/registry_choice.h"

#include <cstdlib>
#include <filesystem>

#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/registry_import.h"
#include "host/registry_writer.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/reg_text.h"

namespace cvcal {
namespace {

// Makes the folders of a path that are missing, as "mkdir -p" does.
void MakeParentFolders(const std::string& path) {
    for (std::string::size_type at = path.find('/', 1); at != std::string::npos;
         at = path.find('/', at + 1)) {
        std::string folder = path.substr(0, at);
        if (!cv::FolderExists(folder.c_str())) cv::MakeDirectory(folder.c_str());
    }
}

void CheckFile(const std::string& path, const std::string& origin, RegistryUse use) {
    std::error_code failed;
    std::filesystem::file_status status = std::filesystem::status(path, failed);
    if (std::filesystem::is_directory(status)) {
        throw Failure(kExitConfig, origin + ": " + path + " is a folder, not a .reg file");
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        throw Failure(kExitConfig, origin + ": " + path + " is not a file, not a .reg file");
    }
    if (!cv::EntryExists(path.c_str())) {
        if (use == RegistryUse::kCreate) return;
        throw Failure(kExitConfig,
                      origin + ": " + path + " not found (cvcal config set-root DIR makes it)");
    }
    std::string text;
    if (!cv::ReadWholeFile(path.c_str(), &text)) {
        throw Failure(kExitConfig, origin + ": cannot read " + path);
    }
    if (!text.empty() && !HasRegHeader(text)) {
        throw Failure(kExitConfig, origin + ": " + path +
                                       " is not a .reg file (no \"Windows Registry Editor Version "
                                       "5.00\" line at its start)");
    }
}

}  // namespace

std::string DefaultRegistryPath() {
    return cv::DefaultRegistryFile();
}

void ChooseRegistry(const std::string& given, RegistryUse use) {
    if (!given.empty() && !cv::RegistryIsFile()) {
        // Reading a file as if it were the registry would mean writing it into the registry,
        // behind the back of every value set there since.
        throw UsageError(
            "--registry: the Windows build reads the registry itself, not a file; "
            "'cvcal config import FILE' writes a .reg file's values into it");
    }
    if (use == RegistryUse::kNone) return;
    std::string path = given, origin = "--registry";
    if (path.empty() && cv::RegistryIsFile()) {
        const char* variable = std::getenv("CVAICP_REGISTRY");
        if (variable != nullptr && variable[0] != '\0') {
            path = variable;
            origin = "CVAICP_REGISTRY";
        } else {
            path = DefaultRegistryPath();
            origin = "the default registry file";
            if (path.empty()) {
                throw Failure(kExitConfig,
                              "no registry file: give --registry FILE or set "
                              "CVAICP_REGISTRY");
            }
            if (use == RegistryUse::kCreate) MakeParentFolders(path);
        }
    }
    if (path.empty()) return;  // Windows: the registry itself
    CheckFile(path, origin, use);
    // Names the file for the library, which reads it when it loads.
    if (!cv::ImportRegistryFile(path)) throw Failure(kExitConfig, origin + ": cannot read " + path);
}

void ImportIntoRegistry(const std::string& path) {
    CheckFile(path, path, RegistryUse::kRead);
    if (!cv::ImportRegistryFile(path)) {
        throw Failure(kExitConfig, path + ": its values could not be written into the registry");
    }
}

}  // namespace cvcal
