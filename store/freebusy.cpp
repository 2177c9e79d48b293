#include "store/freebusy.h"

#include <cstdio>
#include <cstring>

#include "common/delimited_text.h"
#include "common/text_helpers.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"

namespace cv {
namespace {

// A prefix of period names: it ends inside its field and names nothing outside the folder.
bool IsUsablePrefix(const FreeBusyRequest& request) {
    const char* prefix = FieldText(request.NamePrefix, sizeof request.NamePrefix);
    return prefix != nullptr && std::strpbrk(prefix, "\\/:") == nullptr;
}

}  // namespace

int32_t GetBusyDays(FreeBusyRequest* request) {
    request->BusyDays[0] = '\0';
    char pattern[kPathSize];
    if (!HasValidMailbox(*request) || !IsUsablePrefix(*request)) return 1;
    char file_pattern[sizeof request->NamePrefix + 8];
    std::snprintf(file_pattern, sizeof file_pattern, "%s*.CAL", request->NamePrefix);
    if (!CalendarFilePath(pattern, sizeof pattern, request->Postoffice, request->Mailbox,
                          file_pattern)) {
        return 1;
    }
    DirectorySearch search;
    FindData entry;
    if (!search.First(pattern, &entry, DirectorySearch::Detail::kName)) return 1;
    size_t length = 0;
    bool full = false;
    do {
        // Y09M03D05.CAL gives 05; month, year and longer periods have no "D" and give nothing.
        char day[132];
        if (!TextBetween(entry.name.c_str(), "D", ".", day, sizeof day) || day[0] == '\0') {
            continue;
        }
        size_t day_length = std::strlen(day);
        size_t needed = day_length + (length ? 1 : 0);
        // Whole entries only: once one does not fit, the list ends there.
        if (full || length + needed > sizeof request->BusyDays - 1) {
            full = true;
            continue;
        }
        if (length) request->BusyDays[length++] = ',';
        std::memcpy(request->BusyDays + length, day, day_length + 1);
        length += day_length;
    } while (search.Next(&entry));
    request->BusyDaysLength = static_cast<int32_t>(length);
    return 1;
}

}  // namespace cv
