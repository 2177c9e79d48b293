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

// Composes the record's Calendar folder, creates it when missing (one level: a missing mailbox
// folder is not made), then writes the period path, <Postoffice>\MAILROOT\<Mailbox>\Calendar
// followed by a backslash and <PeriodName>, into out (kPeriodPathSize bytes). 0 when a path would
// not fit; nothing is created then. With create_folder false the folder is left as it is: a
// reader whose period file opens has no need to ask, and makes the folder only when it does not.
int BuildCalendarPaths(const AppointmentRequest& request, char* out, bool create_folder = true);

// Full path of a file in a mailbox's Calendar folder. False when it would not fit.
bool CalendarFilePath(char* out, size_t size, const char* postoffice, const char* mailbox,
                      const char* file_name);

// Writes the dirty marker "_CHANGE.DTY" into the record's Calendar folder. Always 1: a marker that
// cannot be written is skipped.
int MarkCalendarChanged(const AppointmentRequest& request);
// The same marker in a folder given by its path.
void MarkFolderChanged(const char* folder);

}  // namespace cv
