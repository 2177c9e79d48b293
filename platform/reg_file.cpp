#include "platform/reg_file.h"

#include "platform/code_page.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace cv {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string_view CleanKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return path;
}

// "HKEY_LOCAL_MACHINE\SOFTWARE\..." into its hive and the path below it.
bool SplitHive(std::string_view full, Hive* hive, std::string_view* path) {
    static const struct {
        const char* name;
        Hive hive;
    } kRoots[] = {{"HKEY_LOCAL_MACHINE", Hive::kLocalMachine},
                  {"HKLM", Hive::kLocalMachine},
                  {"HKEY_CURRENT_USER", Hive::kCurrentUser},
                  {"HKCU", Hive::kCurrentUser}};
    for (const auto& root : kRoots) {
        std::string_view name(root.name);
        if (StartsWithNoCase(full, name) &&
            (full.size() == name.size() || full[name.size()] == '\\')) {
            *hive = root.hive;
            *path = CleanKeyPath(full.substr(name.size()));
            return true;
        }
    }
    return false;
}

// A quoted text with \\ and \" escapes, starting at text[*pos] == '"'. Moves *pos past the
// closing quote.
bool ReadQuoted(std::string_view text, size_t* pos, std::string* out) {
    if (*pos >= text.size() || text[*pos] != '"') return false;
    out->clear();
    for (size_t i = *pos + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            out->push_back(text[++i]);
        } else if (c == '"') {
            *pos = i + 1;
            return true;
        } else {
            out->push_back(c);
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view list, std::string* out) {
    out->clear();
    list = Trim(list);
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view byte = Trim(list.substr(0, comma));
        if (byte.empty() || byte.size() > 2) return false;
        unsigned value = 0;
        for (char c : byte) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
            value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                           ? c - '0'
                                                           : std::tolower(c) - 'a' + 10);
        }
        out->push_back(static_cast<char>(value));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
        if (Trim(list).empty()) return false;  // a trailing comma leaves a byte out
    }
    return true;
}

// The data part after '=': "text", dword:1f, hex:.., hex(N):.. ; false for anything else.
bool ParseData(std::string_view data, uint32_t* type, std::string* bytes) {
    data = Trim(data);
    if (!data.empty() && data.front() == '"') {
        size_t pos = 0;
        if (!ReadQuoted(data, &pos, bytes) || !Trim(data.substr(pos)).empty()) return false;
        bytes->push_back('\0');
        *type = kRegSz;
        return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
        std::string_view digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t value = 0;
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
            value = value * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                           ? c - '0'
                                                           : std::tolower(c) - 'a' + 10);
        }
        bytes->assign({static_cast<char>(value), static_cast<char>(value >> 8),
                       static_cast<char>(value >> 16), static_cast<char>(value >> 24)});
        *type = kRegDword;
        return true;
    }
    if (StartsWithNoCase(data, "hex:")) {
        *type = kRegBinary;
        return ParseHexBytes(data.substr(4), bytes);
    }
    if (StartsWithNoCase(data, "hex(")) {
        size_t close = data.find("):");
        if (close == std::string_view::npos || close <= 4 || close > 12) return false;
        std::string number(data.substr(4, close - 4));
        char* end = nullptr;
        unsigned long value = std::strtoul(number.c_str(), &end, 16);
        if (end == nullptr || *end != '\0') return false;
        *type = static_cast<uint32_t>(value);
        return ParseHexBytes(data.substr(close + 2), bytes);
    }
    return false;
}

// A value line whose data is a hex list ("name"=hex:.. or =hex(N):..), which may be continued.
bool StartsHexList(std::string_view line) {
    if (line.empty() || (line.front() != '"' && line.front() != '@')) return false;
    for (size_t at = line.find('='); at != std::string_view::npos; at = line.find('=', at + 1)) {
        if (StartsWithNoCase(Trim(line.substr(at + 1)), "hex")) return true;
    }
    return false;
}

void AppendEscaped(std::string* out, std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == '"') out->push_back('\\');
        out->push_back(c);
    }
}

void AppendHex(std::string* out, std::string_view bytes) {
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(bytes[i]));
        if (i) out->push_back(',');
        out->append(two);
    }
}

}  // namespace

RegFile RegFile::Parse(std::string_view raw) {
    RegFile file;
    std::string text = RegTextAsUtf8(raw);
    Key* current = nullptr;
    bool current_valid = false;
    std::string logical;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line(text.data() + pos,
                              (end == std::string::npos ? text.size() : end) - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        // A value's hex list may go on over several lines, each but the last ending in '\'.
        std::string_view trimmed = Trim(line);
        if ((!logical.empty() || StartsHexList(trimmed)) && !trimmed.empty() &&
            trimmed.back() == '\\') {
            logical.append(trimmed.substr(0, trimmed.size() - 1));
            continue;
        }
        std::string joined;
        if (!logical.empty()) {
            joined = logical;
            joined.append(trimmed);
            logical.clear();
            trimmed = joined;
        }

        if (trimmed.empty() || trimmed.front() == ';') continue;
        if (trimmed.front() == '[') {
            if (trimmed.back() != ']') {
                current_valid = false;
                continue;
            }
            std::string_view inner = trimmed.substr(1, trimmed.size() - 2);
            bool remove = !inner.empty() && inner.front() == '-';
            if (remove) inner.remove_prefix(1);
            Hive hive;
            std::string_view path;
            current_valid = false;
            if (!SplitHive(inner, &hive, &path)) continue;
            if (remove) {
                file.RemoveKeyTree(hive, path);
                continue;
            }
            current = file.FindKey(hive, path);
            if (current == nullptr) {
                file.keys_.push_back(Key{hive, std::string(path), {}});
                current = &file.keys_.back();
            }
            current_valid = true;
            continue;
        }
        if (!current_valid) continue;

        std::string name;
        size_t after = 0;
        if (trimmed.front() == '@') {
            after = 1;
        } else if (!ReadQuoted(trimmed, &after, &name)) {
            continue;
        }
        std::string_view rest = Trim(trimmed.substr(after));
        if (rest.empty() || rest.front() != '=') continue;
        rest = Trim(rest.substr(1));
        Hive hive = current->hive;
        std::string path = current->path;
        if (rest == "-") {
            file.Remove(hive, path, name);
            current = file.FindKey(hive, path);
            continue;
        }
        uint32_t type;
        std::string bytes;
        if (!ParseData(rest, &type, &bytes)) continue;
        file.Set(hive, path, name, type, std::move(bytes));
        current = file.FindKey(hive, path);
    }
    return file;
}

std::string RegFile::Serialize() const {
    std::string out = "Windows Registry Editor Version 5.00\n";
    for (const Key& key : keys_) {
        out += "\n[";
        out += key.hive == Hive::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\n";
        for (const Value& value : key.values) {
            if (value.name.empty()) {
                out += '@';
            } else {
                out += '"';
                AppendEscaped(&out, value.name);
                out += '"';
            }
            out += '=';
            const std::string& d = value.data;
            bool plain_text = value.type == kRegSz && !d.empty() && d.back() == '\0' &&
                              d.find('\0') == d.size() - 1 &&
                              d.find_first_of("\r\n") == std::string::npos;
            if (plain_text) {
                out += '"';
                AppendEscaped(&out, std::string_view(d.data(), d.size() - 1));
                out += '"';
            } else if (value.type == kRegDword && d.size() == 4) {
                char number[16];
                uint32_t v = static_cast<unsigned char>(d[0]) |
                             static_cast<uint32_t>(static_cast<unsigned char>(d[1])) << 8 |
                             static_cast<uint32_t>(static_cast<unsigned char>(d[2])) << 16 |
                             static_cast<uint32_t>(static_cast<unsigned char>(d[3])) << 24;
                std::snprintf(number, sizeof number, "dword:%08x", v);
                out += number;
            } else {
                if (value.type == kRegBinary) {
                    out += "hex:";
                } else {
                    char prefix[24];
                    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
                    out += prefix;
                }
                AppendHex(&out, d);
            }
            out += '\n';
        }
    }
    return out;
}

std::vector<RegFile::Entry> RegFile::Entries() const {
    std::vector<Entry> entries;
    for (const Key& key : keys_) {
        for (const Value& value : key.values) entries.push_back(Entry{key.hive, key.path, value});
    }
    return entries;
}

RegFile::Key* RegFile::FindKey(Hive hive, std::string_view path) {
    path = CleanKeyPath(path);
    for (Key& key : keys_) {
        if (key.hive == hive && EqualNoCase(key.path, path)) return &key;
    }
    return nullptr;
}

const RegFile::Key* RegFile::FindKey(Hive hive, std::string_view path) const {
    return const_cast<RegFile*>(this)->FindKey(hive, path);
}

void RegFile::RemoveKeyTree(Hive hive, std::string_view path) {
    path = CleanKeyPath(path);
    std::vector<Key> kept;
    for (Key& key : keys_) {
        bool below =
            key.hive == hive && (EqualNoCase(key.path, path) ||
                                 (StartsWithNoCase(key.path, path) &&
                                  key.path.size() > path.size() && key.path[path.size()] == '\\'));
        if (!below) kept.push_back(std::move(key));
    }
    keys_ = std::move(kept);
}

const RegFile::Value* RegFile::Find(Hive hive, std::string_view key, std::string_view name) const {
    const Key* k = FindKey(hive, key);
    if (k == nullptr) return nullptr;
    for (const Value& value : k->values) {
        if (EqualNoCase(value.name, name)) return &value;
    }
    return nullptr;
}

bool RegFile::HasKey(Hive hive, std::string_view key) const {
    return FindKey(hive, key) != nullptr;
}

void RegFile::Set(Hive hive, std::string_view key, std::string_view name, uint32_t type,
                  std::string data) {
    Key* k = FindKey(hive, key);
    if (k == nullptr) {
        keys_.push_back(Key{hive, std::string(CleanKeyPath(key)), {}});
        k = &keys_.back();
    }
    for (Value& value : k->values) {
        if (EqualNoCase(value.name, name)) {
            value.type = type;
            value.data = std::move(data);
            return;
        }
    }
    k->values.push_back(Value{std::string(name), type, std::move(data)});
}

bool RegFile::Remove(Hive hive, std::string_view key, std::string_view name) {
    Key* k = FindKey(hive, key);
    if (k == nullptr) return false;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
        if (EqualNoCase(it->name, name)) {
            k->values.erase(it);
            return true;
        }
    }
    return false;
}

std::string RegTextAsUtf8(std::string_view bytes, RegEncoding* encoding) {
    RegEncoding found = RegEncoding::kUtf8;
    std::string out;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        found = RegEncoding::kUtf16Le;
        out.reserve(bytes.size() / 2);
        auto unit = [&](size_t i) {
            return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
                   static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        };
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            uint32_t c = unit(i);
            if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
                uint32_t low = unit(i + 2);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            utf8::Append(&out, c);
        }
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        found = RegEncoding::kUtf8Bom;
        out.assign(bytes.substr(3));
    } else {
        out.assign(bytes);
    }
    if (encoding != nullptr) *encoding = found;
    return out;
}

std::string RegTextInEncoding(std::string_view text, RegEncoding encoding) {
    if (encoding == RegEncoding::kUtf8) return std::string(text);
    if (encoding == RegEncoding::kUtf8Bom) return "\xEF\xBB\xBF" + std::string(text);
    std::string out = "\xFF\xFE";
    auto put = [&out](uint32_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        size_t length = *p ? utf8::SequenceLength(p, end) : 1;
        // A byte that is no UTF-8 is written as the character it is read as.
        uint32_t c = length ? utf8::Decode(p, length) : *p;
        p += length ? length : 1;
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

}  // namespace cv
