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

// The item with a header set: the first line of that name (letter case ignored) and the lines
// that continue it replaced, or the header added at the end of the headers.
std::string WithHeader(const std::string& item, const std::string& name, const std::string& value);

// Reads the whole item; false when it cannot be read (missing).
bool ReadItem(ProviderLibrary& library, AppointmentItemRequest record, std::string* bytes);

}  // namespace cvcal
