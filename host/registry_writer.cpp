// The typed setters over the raw write of registry_writer_win32.cpp or registry_writer_posix.cpp.
#include "host/registry_writer.h"

#include "common/text_helpers.h"

namespace cv {

bool SetRegistryString(Hive hive, const char* key, const char* name, const std::string& value) {
    return WriteRegistryValue(hive, key, name, kRegSz, value.c_str(), value.size() + 1);
}

bool SetRegistryDword(Hive hive, const char* key, const char* name, uint32_t value) {
    unsigned char data[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return WriteRegistryValue(hive, key, name, kRegDword, data, sizeof data);
}

bool SetRegistryBinary(Hive hive, const char* key, const char* name, const void* data,
                       size_t size) {
    return WriteRegistryValue(hive, key, name, kRegBinary, data, size);
}

bool HoldsCredentials(const RegFile& file) {
    for (const RegFile::Entry& entry : file.Entries()) {
        if (CompareNoCase(entry.value.name.c_str(), "Credentials") == 0) return true;
    }
    return false;
}

}  // namespace cv
