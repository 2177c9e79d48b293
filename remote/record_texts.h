// The text fields of the records that travel to a remote admin service, in the wire's code page
// (platform/code_page.h) whichever build sends them: a native client and a native service convert
// them on the way out and in, so that a Windows peer reads the names it would have written.
#pragma once

#include "include/cvaicp.h"
#include "include/cvaicp_exports.h"

namespace cv {

enum class TextWay { kToWire, kFromWire };

// Converts the record's names, ids and texts in place: never the chunk of an item's bytes, which
// are the file's as they are. False, with the record as it was, when a text has a character the
// wire's code page cannot hold or no longer fits its field.
bool ConvertRecordTexts(TextWay way, AppointmentRequest* record);
bool ConvertRecordTexts(TextWay way, AppointmentItemRequest* record);
bool ConvertRecordTexts(TextWay way, FreeBusyRequest* record);
bool ConvertRecordTexts(TextWay way, ListContext* record);
bool ConvertRecordTexts(TextWay way, ListItem* record);
inline bool ConvertRecordTexts(TextWay, CvaicpNoArgument*) {
    return true;
}
inline bool ConvertRecordTexts(TextWay, const char*) {
    return true;
}

// The same through an untyped record, for the tables built from the export list.
template <typename Record>
bool ConvertTextsOf(TextWay way, void* record) {
    return ConvertRecordTexts(way, static_cast<Record*>(record));
}

}  // namespace cv
