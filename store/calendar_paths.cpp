#include "store/calendar_paths.h"

#include <cstring>
#include <initializer_list>

#include "common/text_helpers.h"
#include "platform/platform.h"
#include "store/store_state.h"

namespace cv {
namespace {

// The parts joined into `out`; false, with `out` empty, when they do not fit. Joined by hand rather
// than formatted: a folder scan composes the paths of every period file and every item file.
bool JoinBounded(char* out, size_t size, std::initializer_list<const char*> parts) {
    size_t used = 0;
    for (const char* part : parts) {
        const size_t length = std::strlen(part);
        if (length >= size - used) {
            if (size > 0) out[0] = '\0';
            return false;
        }
        std::memcpy(out + used, part, length);
        used += length;
    }
    out[used] = '\0';
    return true;
}

}  // namespace

const char* FieldText(const char* field, size_t size) {
    return std::memchr(field, '\0', size) != nullptr ? field : nullptr;
}

bool IsPathComponent(const char* field, size_t size) {
    const char* text = FieldText(field, size);
    if (text == nullptr || text[0] == '\0') return false;
    if (std::strcmp(text, ".") == 0 || std::strcmp(text, "..") == 0) return false;
    // Separators and drive colons would leave the folder; wildcards would make a directory search
    // answer for other files.
    return std::strpbrk(text, "\\/:*?") == nullptr;
}

int BuildCalendarPaths(const AppointmentRequest& request, PeriodPaths* paths, bool create_folder) {
    const char* root = MailRoot();
    if (!JoinBounded(
            paths->folder, sizeof paths->folder,
            {root, "\\", request.Postoffice, "\\MAILROOT\\", request.Mailbox, "\\Calendar"}) ||
        !JoinBounded(paths->period_path, sizeof paths->period_path,
                     {request.Postoffice, "\\MAILROOT\\", request.Mailbox, "\\Calendar\\",
                      request.PeriodName})) {
        return 0;
    }
    struct Named {
        char* out;
        const char* extension;
    };
    for (const Named& file : {Named{paths->period, ".CAL"}, Named{paths->temporary, ".TMP"},
                              Named{paths->backup, ".BAK"}, Named{paths->blocking, ".BLK"}}) {
        if (!JoinBounded(file.out, kPathSize, {root, "\\", paths->period_path, file.extension})) {
            return 0;
        }
    }
    // Usually there already; a missing mailbox folder is not made.
    if (create_folder) MakeDirectory(paths->folder);
    return 1;
}

bool CalendarFilePath(char* out, size_t size, const char* postoffice, const char* mailbox,
                      const char* file_name) {
    return JoinBounded(
        out, size,
        {MailRoot(), "\\", postoffice, "\\MAILROOT\\", mailbox, "\\Calendar\\", file_name});
}

int MarkCalendarChanged(const PeriodPaths& paths) {
    MarkFolderChanged(paths.folder);
    return 1;
}

void MarkFolderChanged(const char* folder) {
    char path[kPathSize];
    if (!FormatBounded(path, sizeof path, "%s\\_CHANGE.DTY", folder)) return;
    static const char kLine[] = "This file has been written to denote configuration change\r\n";
    // Readers go by the marker's existence, and its line is all it ever holds: one of that length
    // says all there is to say. Cutting a file and writing it anew is not free: some file systems
    // then wait for the disk before they let go of it.
    int64_t size = 0;
    if (FileSizeByName(path, &size) && size == static_cast<int64_t>(sizeof kLine - 1)) return;
    File marker;
    if (marker.Open(path, File::Mode::kWriteTruncate)) marker.Write(kLine, sizeof kLine - 1);
}

}  // namespace cv
