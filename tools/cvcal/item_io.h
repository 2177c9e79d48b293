// Moving a whole item file through the library's chunked item exports.
#pragma once

#include <string>

#include "tools/cvcal/command_line.h"

namespace cvcal {

// An AppointmentItemRequest for the item of that id in the mailbox the command names.
AppointmentItemRequest ItemRecord(const CommandLine& line, const std::string& id);

// Writes the text in chunks of at most 8191 bytes (the library takes each chunk up to its first
// NUL, so the text must have none). False when the size reported afterwards differs.
bool WriteItem(ProviderLibrary& library, AppointmentItemRequest record, const std::string& text);

// Reads the whole item; false when it cannot be read (missing).
bool ReadItem(ProviderLibrary& library, AppointmentItemRequest record, std::string* bytes);

}  // namespace cvcal
