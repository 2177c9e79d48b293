#include "index_api/item_properties.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"

namespace cv {
namespace {

constexpr const char kUpdateFailed[] = "Warning: Unable to update message body for file %s\n";

// The boundary that a single-part item gets when it becomes multipart; every item gets the same.
constexpr const char kFixedBoundary[] = "----------677C251E373B0A";
constexpr size_t kMaxBoundary = 1023;

constexpr const char kBodyElement[] = "BODY";
constexpr const char kCalendarElement[] = "VCALENDAR";

bool ReplaceStep(const char* from, const char* to) {
    return ReplaceFileWith(from, to);
}
ItemFileReplace g_replace = ReplaceStep;

// A line of the message: its text, and the line break it ended with ("\r\n", "\n", or nothing at
// the end of the file). Both are views of the message, which outlives its ItemMessage.
struct Line {
    std::string_view text;
    std::string_view ending;
};

// What a search of a line's text as a C string sees: up to its first NUL.
std::string_view AsCString(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

constexpr size_t kNone = static_cast<size_t>(-1);

// A message taken apart into its lines, headers and parts.
class ItemMessage {
  public:
    explicit ItemMessage(const std::string& text) {
        const std::string_view message(text);
        size_t at = 0;
        while (at < message.size()) {
            size_t feed = message.find('\n', at);
            Line line;
            if (feed == std::string_view::npos) {
                line.text = message.substr(at);
                at = message.size();
            } else {
                line.text = message.substr(at, feed - at);
                line.ending = message.substr(feed, 1);
                if (!line.text.empty() && line.text.back() == '\r') {
                    line.text.remove_suffix(1);
                    line.ending = message.substr(feed - 1, 2);
                }
                at = feed + 1;
            }
            lines_.push_back(line);
        }

        body_start_ = lines_.size();
        size_t offset = 0;
        bool boundary_seen = false;
        for (size_t i = 0; i < lines_.size(); ++i) {
            offset += lines_[i].text.size() + lines_[i].ending.size();
            const std::string_view text = AsCString(lines_[i].text);
            if (lines_[i].text.empty()) {
                body_start_ = i + 1;
                body_offset_ = offset;
                break;
            }
            headers_ = i + 1;
            if (FindNoCaseIn(text, "multipart/mixed") != std::string_view::npos) multipart_ = true;
            constexpr std::string_view kParameter = "boundary=\"";
            const size_t parameter =
                boundary_seen ? std::string_view::npos : FindNoCaseIn(text, kParameter);
            if (parameter != std::string_view::npos) {
                boundary_seen = true;
                std::string_view value = text.substr(parameter + kParameter.size());
                value = value.substr(0, value.find('"'));
                boundary_.assign(value.substr(0, kMaxBoundary));
            }
        }
        if (!multipart_) boundary_.clear();
    }

    bool multipart() const { return multipart_; }
    const std::string& boundary() const { return boundary_; }
    size_t headers() const { return headers_; }
    size_t body_start() const { return body_start_; }
    size_t body_offset() const { return body_offset_; }
    size_t size() const { return lines_.size(); }
    const Line& line(size_t i) const { return lines_[i]; }

    // Where the part whose headers name the content type is, or where it would go.
    struct Part {
        size_t header_end = kNone;  // the empty line that ends the part's headers
        size_t closing = kNone;     // the closing boundary line, when one was reached
    };
    Part Find(const char* content_type) const {
        Part part;
        size_t at = NextBoundaryLine(body_start_);
        while (at != kNone) {
            if (IsClosing(at)) {
                part.closing = at;
                return part;
            }
            bool named = false;
            size_t k = at + 1;
            for (; k < lines_.size() && !lines_[k].text.empty() && !IsBoundaryLine(k); ++k) {
                if (FindNoCaseIn(AsCString(lines_[k].text), content_type) !=
                    std::string_view::npos) {
                    named = true;
                }
            }
            if (k < lines_.size() && lines_[k].text.empty()) {
                if (named) {
                    part.header_end = k;
                    return part;
                }
                at = NextBoundaryLine(k + 1);
            } else {
                at = k < lines_.size() ? k : kNone;  // a part without content
            }
        }
        return part;
    }

    bool IsBoundaryLine(size_t i) const {
        return !boundary_.empty() && lines_[i].text.find(boundary_) != std::string::npos;
    }
    size_t NextBoundaryLine(size_t from) const {
        for (size_t i = from; i < lines_.size(); ++i) {
            if (IsBoundaryLine(i)) return i;
        }
        return kNone;
    }

  private:
    bool IsClosing(size_t i) const {
        const std::string_view text = lines_[i].text;
        size_t found = text.find(boundary_);
        return text.compare(found + boundary_.size(), 2, "--") == 0;
    }

    std::vector<Line> lines_;
    size_t headers_ = 0;
    size_t body_start_ = 0;
    size_t body_offset_ = 0;
    bool multipart_ = false;
    std::string boundary_;
};

// The content type of the part that holds an element's value; null for other elements.
const char* ContentTypeOf(const char* element) {
    if (element == nullptr) return nullptr;
    if (CompareNoCase(element, kBodyElement) == 0) return "text/plain";
    if (CompareNoCase(element, kCalendarElement) == 0) return "text/calendar";
    return nullptr;
}

void AppendLines(const ItemMessage& message, size_t from, size_t to, std::string* out) {
    for (size_t i = from; i < to; ++i) out->append(message.line(i).text).append("\r\n");
}

void AppendPartHeaders(const char* content_type, std::string* out) {
    *out += "Content-Type: ";
    *out += content_type;
    *out += "; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
}

// A single-part item becomes a two-part message: its old body, then the calendar text.
void AppendAsTwoParts(const ItemMessage& message, const char* value, std::string* out) {
    const std::string separator = std::string("--") + kFixedBoundary + "\r\n";
    *out += "Content-Type: multipart/mixed;\r\n";
    *out += std::string("\tboundary=\"") + kFixedBoundary + "\"\r\n";
    *out += "\r\n";
    *out += separator;
    AppendPartHeaders("text/plain", out);
    AppendLines(message, message.body_start(), message.size(), out);
    *out += separator;
    AppendPartHeaders("text/calendar", out);
    *out += value;
    *out += "\r\n";
    *out += std::string("--") + kFixedBoundary + "--\r\n";
}

bool EndsWithNoCase(const char* text, const char* tail) {
    size_t length = std::strlen(text);
    size_t tail_length = std::strlen(tail);
    return length >= tail_length && CompareNoCase(text + length - tail_length, tail) == 0;
}

// Names that the folder's own files have: an item of such a name is not rewritten, since the
// write would replace (or its temporary file would delete) the index, its lock, a dirty marker,
// another item's temporary file or a period file with its companions.
bool IsReservedItemName(const char* id) {
    if (id[0] == '_') return true;
    const char* dot = std::strrchr(id, '.');
    if ((id[0] == 'Y' || id[0] == 'y') && dot != nullptr) {
        for (const char* extension : {".CAL", ".TMP", ".BAK", ".OLD", ".BLK"}) {
            if (CompareNoCase(dot, extension) == 0) return true;
        }
    }
    return CompareNoCase(id, "index.xml") == 0 || CompareNoCase(id, "index.blk") == 0 ||
           EndsWithNoCase(id, ".DTY");
}

// The item file and its temporary file; false without a folder, when the id is not a single file
// name, or when a path does not fit.
bool ItemPaths(const char* folder, const char* id, char* item, char* temporary) {
    if (folder == nullptr || folder[0] == '\0' || id == nullptr ||
        !IsPathComponent(id, std::strlen(id) + 1)) {
        return false;
    }
    return FormatBounded(item, kPathSize, "%s\\%s", folder, id) &&
           (temporary == nullptr || FormatBounded(temporary, kPathSize, "%s\\_%s", folder, id));
}

int UpdateFailed(const char* temporary) {
    Diagnose(kUpdateFailed, temporary);
    return 0;
}

}  // namespace

bool IsItemFileElement(const char* element) {
    return ContentTypeOf(element) != nullptr;
}

bool ItemMessageValue(const std::string& text, const char* element, std::string* value) {
    const char* content_type = ContentTypeOf(element);
    if (content_type == nullptr) return false;
    value->clear();
    ItemMessage message(text);
    if (!message.multipart()) {
        // A single-part item's body is all that follows the headers; it has no calendar part.
        if (content_type == std::string("text/plain") && message.body_start() < message.size()) {
            *value = text.substr(message.body_offset());
        }
        return true;
    }
    ItemMessage::Part part = message.Find(content_type);
    if (part.header_end == kNone) return true;
    for (size_t i = part.header_end + 1; i < message.size() && !message.IsBoundaryLine(i); ++i) {
        value->append(message.line(i).text).append(message.line(i).ending);
    }
    return true;
}

bool ReplaceItemMessageValue(const std::string& text, const char* element, const char* value,
                             std::string* out) {
    const char* content_type = ContentTypeOf(element);
    if (content_type == nullptr || value == nullptr) return false;
    ItemMessage message(text);
    if (message.multipart() && message.boundary().empty()) return false;
    out->clear();
    AppendLines(message, 0, message.headers(), out);
    const bool calendar = content_type == std::string("text/calendar");

    if (!message.multipart()) {
        if (calendar) {
            AppendAsTwoParts(message, value, out);
        } else {
            *out += "\r\n";
            *out += value;  // the old body gives way
        }
        return true;
    }

    *out += "\r\n";
    ItemMessage::Part part = message.Find(content_type);
    if (part.header_end != kNone) {
        AppendLines(message, message.body_start(), part.header_end + 1, out);
        *out += value;
        *out += "\r\n";
        size_t next = message.NextBoundaryLine(part.header_end + 1);
        if (next != kNone) AppendLines(message, next, message.size(), out);
        return true;
    }
    // No part of that type yet: a new one goes before the closing boundary (at the end when the
    // message has none, closing it).
    size_t insert_at = part.closing != kNone ? part.closing : message.size();
    AppendLines(message, message.body_start(), insert_at, out);
    *out += "--" + message.boundary() + "\r\n";
    AppendPartHeaders(content_type, out);
    *out += value;
    *out += "\r\n";
    if (part.closing != kNone) {
        AppendLines(message, part.closing, message.size(), out);
    } else {
        *out += "--" + message.boundary() + "--\r\n";
    }
    return true;
}

int ReadItemFileValue(const char* folder, const char* id, const char* element, std::string* value) {
    char item[kPathSize];
    if (!IsItemFileElement(element) || !ItemPaths(folder, id, item, nullptr)) return 0;
    std::string message;
    if (!ReadWholeFile(item, &message)) return 0;
    return ItemMessageValue(message, element, value) ? 1 : 0;
}

int WriteItemFileValue(const char* folder, const char* id, const char* element, const char* value) {
    char item[kPathSize];
    char temporary[kPathSize];
    if (!IsItemFileElement(element) || value == nullptr ||
        !ItemPaths(folder, id, item, temporary) || IsReservedItemName(id)) {
        return 0;
    }
    std::string message;
    std::string updated;
    if (!ReadWholeFile(item, &message) ||
        !ReplaceItemMessageValue(message, element, value, &updated)) {
        return UpdateFailed(temporary);
    }

    // The item file is only ever replaced whole, by a complete copy: whatever fails on the way
    // leaves the old one as it was.
    RemoveFile(temporary);  // left over from an earlier attempt
    File file;
    if (!file.Open(temporary, File::Mode::kWriteTruncate)) return UpdateFailed(temporary);
    bool written = file.Write(updated.data(), updated.size()) && file.Sync();
    written = file.Close() && written;
    if (!written || !g_replace(temporary, item)) {
        RemoveFile(temporary);
        return UpdateFailed(temporary);
    }
    return 1;
}

void SetItemFileReplace(ItemFileReplace replace) {
    g_replace = replace != nullptr ? replace : ReplaceStep;
}

}  // namespace cv
