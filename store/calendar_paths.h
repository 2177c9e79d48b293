// The Calendar folder of a mailbox and the names inside it.
//
//   <mail root>\<Postoffice>\MAILROOT\<Mailbox>\Calendar
//
// Every name that a record contributes to a path must be a single path component that ends inside
// its field; anything else (separators, drive colons, "." and "..", an unterminated field) is
// refused before a path is composed, so that no record can reach outside its mailbox's folders.
#pragma once

#include <cstddef>

#include "include/cvaicp.h"

namespace cv {

constexpr size_t kPathSize = 1024;       // full paths
constexpr size_t kPeriodPathSize = 516;  // period paths, relative to the mail root

// The text of a fixed field when it is NUL-terminated inside the field, else null.
const char* FieldText(const char* field, size_t size);

// True when the field holds a usable single path component: terminated inside the field,
// not empty, not "." or "..", and free of '\', '/', ':', '*' and '?'.
bool IsPathComponent(const char* field, size_t size);

// True when Mailbox and Postoffice of a record may name folders.
template <typename Record>
bool HasValidMailbox(const Record& record) {
    return IsPathComponent(record.Mailbox, sizeof record.Mailbox) &&
           IsPathComponent(record.Postoffice, sizeof record.Postoffice);
}

// Every path of one period, composed once per call from its record and handed down: the
// Calendar folder, the period path relative to the mail root, and the period's files.
struct PeriodPaths {
    char folder[kPathSize];             // <mail root>\<Postoffice>\MAILROOT\<Mailbox>\Calendar
    char period_path[kPeriodPathSize];  // <Postoffice>\MAILROOT\<Mailbox>\Calendar\<PeriodName>
    char period[kPathSize];             // <mail root>\<period path>.CAL
    char temporary[kPathSize];          // .TMP: the new content, before it replaces the period file
    char backup[kPathSize];             // .BAK: the content before the last change
    char blocking[kPathSize];           // .BLK: exists while a writer holds the period
};

// Composes the record's paths into *paths. With create_folder, also makes the Calendar folder
// when it is missing (one level: a missing mailbox folder is not made); without it the folder is
// left as it is: a reader whose period file opens has no need to ask, and makes the folder only
// when it does not. 0 when a path would not fit; nothing is created then.
int BuildCalendarPaths(const AppointmentRequest& request, PeriodPaths* paths,
                       bool create_folder = true);

// Full path of a file in a mailbox's Calendar folder. False when it would not fit.
bool CalendarFilePath(char* out, size_t size, const char* postoffice, const char* mailbox,
                      const char* file_name);

// Writes the dirty marker "_CHANGE.DTY" into the period's Calendar folder. Always 1: a marker that
// cannot be written is skipped.
int MarkCalendarChanged(const PeriodPaths& paths);
// The same marker in a folder given by its path.
void MarkFolderChanged(const char* folder);

}  // namespace cv
