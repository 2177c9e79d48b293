// The Windows ".reg" text format: what the native build reads its configuration from, and what
// cvcal writes. Both "Windows Registry Editor Version 5.00" and "REGEDIT4" files are read, as
// UTF-8 (or UTF-16 with a byte-order mark). Key and value names compare without regard to case.
// Lines that cannot be understood are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace cv {

// How a .reg file's text is stored: regedit writes UTF-16LE with a byte-order mark; people and
// cvcal write UTF-8, with a mark or without. A file that cvcal rewrites keeps its encoding.
enum class RegEncoding { kUtf8, kUtf8Bom, kUtf16Le };

// A .reg file's bytes as UTF-8 text without a byte-order mark, and the encoding they were in.
std::string RegTextAsUtf8(std::string_view bytes, RegEncoding* encoding = nullptr);
// UTF-8 text as the bytes of a file in that encoding.
std::string RegTextInEncoding(std::string_view text, RegEncoding encoding);

class RegFile {
  public:
    struct Value {
        std::string name;  // "" for the key's default value ("@")
        uint32_t type = kRegBinary;
        std::string data;  // raw bytes, as the registry would return them
    };

    struct Entry {
        Hive hive;
        std::string key;
        Value value;
    };

    static RegFile Parse(std::string_view text);
    // Every value, key by key in the order of the file.
    std::vector<Entry> Entries() const;
    std::string Serialize() const;

    // Null when the key or the value is missing.
    const Value* Find(Hive hive, std::string_view key, std::string_view name) const;
    bool HasKey(Hive hive, std::string_view key) const;
    void Set(Hive hive, std::string_view key, std::string_view name, uint32_t type,
             std::string data);
    bool Remove(Hive hive, std::string_view key, std::string_view name);

  private:
    struct Key {
        Hive hive;
        std::string path;  // below the hive, without leading or trailing backslashes
        std::vector<Value> values;
    };

    Key* FindKey(Hive hive, std::string_view path);
    const Key* FindKey(Hive hive, std::string_view path) const;
    void RemoveKeyTree(Hive hive, std::string_view path);

    std::vector<Key> keys_;
};

}  // namespace cv
