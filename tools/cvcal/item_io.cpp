#include "tools/cvcal/item_io.h"

#include <algorithm>
#include <cstring>

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
