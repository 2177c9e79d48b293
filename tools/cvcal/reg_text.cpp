#include "tools/cvcal/reg_text.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "common/file_helpers.h"
#include "host/private_file.h"
#include "host/registry_writer.h"
#include "platform/platform.h"
#include "platform/reg_file.h"

namespace cvcal {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string KeyLine(cv::Hive hive, const std::string& key) {
    return std::string("[") +
           (hive == cv::Hive::kLocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
           key + "]";
}

std::string NameText(const std::string& name) {
    return name.empty() ? "@" : RegString(name);
}

// The lines of a text without their line breaks, and which break the text uses.
std::vector<std::string> SplitLines(const std::string& text, std::string* newline) {
    *newline = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
    std::vector<std::string> lines;
    std::string::size_type at = 0;
    while (at < text.size()) {
        std::string::size_type end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::string Trimmed(const std::string& line) {
    std::string::size_type first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

// A value line's name as written (with its quotes), or "" for a line that holds no value.
std::string LineName(const std::string& line) {
    std::string text = Trimmed(line);
    if (text.compare(0, 2, "@=") == 0) return "@";
    if (text.empty() || text[0] != '"') return "";
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return text.substr(0, i + 1);
        }
    }
    return "";
}

}  // namespace

bool HasRegHeader(const std::string& text) {
    std::string body = cv::RegTextAsUtf8(text);
    return body.compare(0, sizeof kHeader - 1, kHeader) == 0 || body.compare(0, 8, "REGEDIT4") == 0;
}

std::string RegString(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string RegDword(uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "dword:%08x", value);
    return text;
}

std::string SetRegValue(const std::string& text, cv::Hive hive, const std::string& key,
                        const std::string& name, const std::string& data) {
    std::string newline;
    std::vector<std::string> lines = SplitLines(text, &newline);
    if (lines.empty()) lines = {kHeader, ""};
    const std::string key_line = Lower(KeyLine(hive, key));
    const std::string wanted = Lower(NameText(name));
    const std::string value_line = NameText(name) + "=" + data;
    size_t section = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (Lower(Trimmed(lines[i])) == key_line) section = i;
    }
    if (section == lines.size()) {
        if (!lines.empty() && !Trimmed(lines.back()).empty()) lines.push_back("");
        lines.push_back(KeyLine(hive, key));
        lines.push_back(value_line);
    } else {
        size_t end = section + 1;  // the first line after the key's own lines
        while (end < lines.size() && Trimmed(lines[end]).compare(0, 1, "[") != 0) ++end;
        size_t insert_at = section + 1;
        bool replaced = false;
        for (size_t i = section + 1; i < end; ++i) {
            if (!Trimmed(lines[i]).empty()) insert_at = i + 1;
            if (replaced || Lower(LineName(lines[i])) != wanted) continue;
            // The value may go on over lines that end in a backslash (hex data).
            size_t last = i;
            while (last + 1 < end && !lines[last].empty() && lines[last].back() == '\\') ++last;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i + 1),
                        lines.begin() + static_cast<std::ptrdiff_t>(last + 1));
            end -= last - i;
            lines[i] = value_line;
            replaced = true;
        }
        if (!replaced) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), value_line);
        }
    }
    std::string out;
    for (const std::string& line : lines) out += line + newline;
    return out;
}

bool WriteRegValue(const std::string& path, cv::Hive hive, const std::string& key,
                   const std::string& name, const std::string& data, std::string* error) {
    std::string text;
    std::error_code failed;
    std::filesystem::file_status status = std::filesystem::status(path, failed);
    bool exists = std::filesystem::exists(status);
    // A device or a folder under the name must never be replaced by a file.
    if (exists && !std::filesystem::is_regular_file(status)) {
        *error = path + " is not a file, not a .reg file";
        return false;
    }
    if (exists && !cv::ReadWholeFile(path.c_str(), &text)) {
        *error = "cannot read " + path;
        return false;
    }
    if (!text.empty() && !HasRegHeader(text)) {
        *error = path + " is not a .reg file (it does not begin with \"" + kHeader +
                 "\"); it is left as it is";
        return false;
    }
    // Changed as UTF-8 text, and written back in the encoding the file came in.
    cv::RegEncoding encoding = cv::RegEncoding::kUtf8;
    const std::string utf8 = cv::RegTextAsUtf8(text, &encoding);
    std::random_device random;
    std::string temporary = path + ".tmp-" + std::to_string(random());
    std::string changed = cv::RegTextInEncoding(SetRegValue(utf8, hive, key, name, data), encoding);
    bool owner_only = cv::HoldsCredentials(cv::RegFile::Parse(changed));
    if (!cv::WriteReplacementFile(temporary.c_str(), path.c_str(), changed, owner_only) ||
        !cv::ReplaceFileWith(temporary.c_str(), path.c_str())) {
        cv::RemoveFile(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace cvcal
