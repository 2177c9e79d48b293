// The calendar's folder index: one element "ELEMENT" per appointment under the root, with the
// appointment's ID, its times and the values of its item file's header lines.
//
// The period files are read only through the appointment walk, which honours the blocking files
// and moves the calling thread's enumeration slot: on return the slot holds the position of the
// last period file read.
#pragma once

#include <cstdint>

#include "index/store_index.h"
#include "index/xml_document.h"
#include "include/cvaicp.h"

namespace cv {

// The appointments' window of a range scan.
struct Range {
    int32_t start;
    int32_t end;
};

// Walks one period file and builds an element for each appointment, inside the range when one
// is given. `unread` is set when the walk or an appointment's files could not be read.
void IndexPeriod(StoreIndex* index, const char* mailbox, const char* postoffice, const char* period,
                 const Range* range, bool* unread);

// The range scan proper: the period files named after the local date of RangeStart (the whole
// span, the year, the month, the day), keeping the appointments that lie wholly inside the range.
// With `unread` given, it is set when an appointment's files could not be read (as opposed to
// missing): the document then lacks what the folder holds.
int ScanPeriodFiles(StoreIndex* index, const ListContext* context, bool* unread = nullptr);

// The calendar element of one appointment (Mailbox, Postoffice, StartTime, FinishTime and ItemId
// of the record), appended to the parent or, with a null parent, to the document element. A null
// node, and nothing appended, when the item file cannot be opened.
// `unread`, where given, is set when the appointment is missing from the document for a fault
// rather than for want of an item file: the item file is there but could not be read, or the
// document refused the element.
XmlNode BuildCalendarElement(XmlDocument& document, const XmlNode& parent, const ListItem& item,
                             bool* unread = nullptr);

// Appends element_name with the header's value when the line carries "header:" (the first
// occurrence of the name, anywhere in the line, letters in any case). 1 when a child was appended.
int AddHeaderElement(XmlDocument& document, XmlNode& element, const char* line, const char* header,
                     const char* element_name);

}  // namespace cv
