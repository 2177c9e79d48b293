// A file takes the access of its folder here; the credentials of the hosts live in the registry.
#include "host/private_file.h"

#include "common/file_helpers.h"
#include "host/host_files.h"

namespace cv {

bool WriteReplacementFile(const char* temporary, const char*, const std::string& bytes, bool) {
    return WriteWholeFile(temporary, bytes);
}

PrivateRead ReadPrivateFile(const char* path, std::string* bytes) {
    return ReadWholeFile(path, bytes) ? PrivateRead::kRead : PrivateRead::kCannotRead;
}

}  // namespace cv
