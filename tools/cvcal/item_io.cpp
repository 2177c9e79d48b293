#include "tools/cvcal/item_io.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/text_helpers.h"

namespace cvcal {

AppointmentItemRequest ItemRecord(const CommandLine& line, const std::string& id) {
    AppointmentItemRequest record;
    std::memset(&record, 0, sizeof record);
    CopyField(record.Mailbox, sizeof record.Mailbox, line.Required("mailbox"), "mailbox");
    CopyField(record.Postoffice, sizeof record.Postoffice, line.Required("postoffice"),
              "postoffice");
    CopyField(record.ItemFileName, sizeof record.ItemFileName, id, "id");
    return record;
}

namespace {

bool SameName(std::string_view line, const std::string& name) {
    for (size_t i = 0; i < name.size(); ++i) {
        if (cv::FoldAscii(line[i]) != cv::FoldAscii(name[i])) return false;
    }
    return true;
}

}  // namespace

std::string WithHeader(const std::string& item, const std::string& name, const std::string& value) {
    const std::string line = name + ": " + value + "\r\n";
    size_t at = 0;
    while (at < item.size()) {
        size_t end = item.find('\n', at);
        end = end == std::string::npos ? item.size() : end + 1;
        const std::string_view text(item.data() + at, end - at);
        if (text == "\r\n" || text == "\n") break;  // the end of the headers
        if (text.size() > name.size() && text[name.size()] == ':' && SameName(text, name)) {
            size_t next = end;  // the lines that go on with it begin with a space or a tab
            while (next < item.size() && (item[next] == ' ' || item[next] == '\t')) {
                size_t feed = item.find('\n', next);
                next = feed == std::string::npos ? item.size() : feed + 1;
            }
            return item.substr(0, at) + line + item.substr(next);
        }
        at = end;
    }
    return item.substr(0, at) + line + item.substr(at);
}

bool WriteItem(ProviderLibrary& library, AppointmentItemRequest record, const std::string& text) {
    const size_t kChunk = sizeof record.Data - 1;
    size_t at = 0;
    do {
        size_t length = std::min(kChunk, text.size() - at);
        std::memcpy(record.Data, text.data() + at, length);
        record.Data[length] = '\0';
        if (at == 0) {
            library.AppointmentItemWriteFirstChunk(&record);
        } else {
            library.AppointmentItemWriteNextChunk(&record);
        }
        at += length;
    } while (at < text.size());
    // The writes always answer 1; the size tells whether the bytes arrived.
    record.DataLength = -1;
    library.AppointmentItemGetSize(&record);
    return record.DataLength == static_cast<int32_t>(text.size());
}

bool ReadItem(ProviderLibrary& library, AppointmentItemRequest record, std::string* bytes) {
    bytes->clear();
    record.DataLength = -1;
    int32_t more = library.AppointmentItemGetFirstChunk(&record);
    if (!more && record.DataLength == -1) return false;  // the file could not be opened
    for (; more; more = library.AppointmentItemGetNextChunk(&record)) {
        bytes->append(record.Data, static_cast<size_t>(record.DataLength));
    }
    return true;
}

}  // namespace cvcal
