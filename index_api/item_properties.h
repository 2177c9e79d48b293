// The property values that live in an item's own file rather than in the index: the message body
// (element "BODY") and the appointment's vCalendar text (element "VCALENDAR").
//
// An item file holds a message: header lines up to the first empty line, then the body. A header
// line that mentions "multipart/mixed" makes the item multipart, and its parts are separated by
// lines holding the boundary of the first header line that carries boundary="...". In a single-part
// item the body is the whole rest of the file and there is no vCalendar text; in a multipart item
// the body is the content of the text/plain part and the vCalendar text that of the text/calendar
// part. Writing the vCalendar text into a single-part item makes it a two-part message with a
// boundary that is the same for every item.
#pragma once

#include <string>

namespace cv {

// Whether the element name (letters in any case) names a value of the item file.
bool IsItemFileElement(const char* element);

// The value of the element in the item file "<folder>\<id>". 1 with the value (line breaks as
// stored; empty when the item has no such part); 0 when the element is not an item-file value, the
// id is not a single file name, or the file cannot be read.
int ReadItemFileValue(const char* folder, const char* id, const char* element, std::string* value);

// Writes the value of the element into the item file "<folder>\<id>": the new message goes to the
// temporary file "<folder>\_<id>", which then replaces the item file in one step. 1 when the item
// file was replaced. On any failure the item file stays as it was, the temporary file is removed
// (unless something that is not our file stands in its place), and the result is 0; a failure
// after the item was found prints "Warning: Unable to update message body for file <temporary
// file>".
int WriteItemFileValue(const char* folder, const char* id, const char* element, const char* value);

// The same on a message held in memory: the element's value, and the message with a new value.
// False when the element is not an item-file value, or (for the write) when the message is
// multipart but names no boundary, so that its parts cannot be found.
bool ItemMessageValue(const std::string& message, const char* element, std::string* value);
bool ReplaceItemMessageValue(const std::string& message, const char* element, const char* value,
                             std::string* out);

// The step that puts the written temporary file in place of the item file (replacing it in one
// step). Tests put one here that fails; null restores the system's.
using ItemFileReplace = bool (*)(const char* from, const char* to);
void SetItemFileReplace(ItemFileReplace replace);

}  // namespace cv
