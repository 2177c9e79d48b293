// The reading rules shared by both builds; the raw access is registry_win32.cpp or
// registry_posix.cpp.
#include "platform/registry.h"

#include <cstring>

namespace cv {
namespace {

enum class TextRule { kClearOnMissing, kKeepOnMissing };

int ReadText(Hive hive, const char* key, const char* name, char* out, TextRule rule) {
    char data[kRegistryTextSize];
    uint32_t size = 0;
    RegistryRead read = ReadRegistryValue(hive, key, name, data, sizeof data, &size);
    if (read == RegistryRead::kNoKey) return 0;
    // Data that fills the whole buffer without a NUL would leave no room to end the text: it is
    // treated as too large.
    bool usable = read == RegistryRead::kRead &&
                  (size < sizeof data || std::memchr(data, '\0', sizeof data) != nullptr);
    if (usable && size == 0 && rule == TextRule::kClearOnMissing) usable = false;
    if (!usable) {
        if (rule == TextRule::kClearOnMissing) out[0] = '\0';
        return 0;
    }
    size_t length = 0;
    while (length < size && data[length] != '\0') ++length;
    std::memcpy(out, data, length);
    out[length] = '\0';
    return 1;
}

int ReadDword(Hive hive, const char* key, const char* name, uint32_t* out) {
    if (key == nullptr || key[0] == '\0') return 0;
    unsigned char data[4] = {0, 0, 0, 0};
    uint32_t size = 0;
    if (ReadRegistryValue(hive, key, name, data, sizeof data, &size) != RegistryRead::kRead) {
        return 0;
    }
    *out = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    return 1;
}

}  // namespace

int GetRegistryString(const char* key, const char* name, char* out) {
    return ReadText(Hive::kLocalMachine, key, name, out, TextRule::kClearOnMissing);
}

int GetRegistryDword(const char* key, const char* name, uint32_t* out) {
    return ReadDword(Hive::kLocalMachine, key, name, out);
}

int GetUserRegistryString(const char* key, const char* name, char* out) {
    return ReadText(Hive::kCurrentUser, key, name, out, TextRule::kKeepOnMissing);
}

int GetUserRegistryDword(const char* key, const char* name, uint32_t* out) {
    return ReadDword(Hive::kCurrentUser, key, name, out);
}

}  // namespace cv
