// The calendar's folder index: one element "ELEMENT" per appointment under the root, with the
// appointment's ID, its times and the values of its item file's header lines.
//
// The period files are read only through the appointment walk, which honours the blocking files
// and moves the calling thread's enumeration slot: on return the slot holds the position of the
// last period file read.
#pragma once

#include <cstdint>

#include "include/cvaicp.h"
#include "index/store_index.h"
#include "index/xml_document.h"
#include "platform/platform.h"

namespace cv {

// The item header whose value the scan puts into an index element of text ("SUBJECT" from
// "Subject"), null for an element that no header line feeds as text: a host that changes such an
// element changes the header too, so that every reader sees one value.
const char* ItemHeaderOf(const char* element);

// The appointments' window of a range scan.
struct Range {
    int32_t start;
    int32_t end;
};

// Where a scan puts the element it makes of an appointment: "ELEMENT" with the ID attribute, and a
// child element of text for each value. A document, or a file written as the scan goes
// (folder_scan.cpp in the store layer).
class ScanOutput {
  public:
    virtual ~ScanOutput() = default;
    // A new element for the appointment; false when it cannot be made.
    virtual bool Begin(const char* id) = 0;
    // A child of the element begun.
    virtual bool Value(const char* name, const char* text) = 0;
    // Puts the element begun into the output: false when it could not be put there.
    virtual bool Keep() = 0;
    // Drops the element begun.
    virtual void Drop() = 0;
    // The output cannot take the scan at all: the scan stops.
    virtual bool Refused() const { return false; }
};

// The output into a document: each element kept is appended to `parent`, or with a null parent
// to the document element.
class DocumentOutput : public ScanOutput {
  public:
    DocumentOutput(XmlDocument& document, const XmlNode& parent)
        : document_(document), parent_(parent) {}
    bool Begin(const char* id) override;
    bool Value(const char* name, const char* text) override;
    bool Keep() override;
    void Drop() override { element_ = XmlNode(); }
    // The element last kept.
    const XmlNode& kept() const { return kept_; }

  private:
    XmlDocument& document_;
    XmlNode parent_;
    XmlNode element_;
    XmlNode kept_;
};

// Reads one period file and builds an element for each appointment, inside the range when one
// is given, converting the item headers' dates by `zone`, a snapshot of the machine's zone that a
// scan takes once. `folder`, where given, is the Calendar folder held open for the item files.
// `unread` is set when the period file or an appointment's files could not be read.
void IndexPeriod(ScanOutput* output, const char* mailbox, const char* postoffice,
                 const char* period, const Range* range, const TimeZoneInfo& zone,
                 const FolderHandle* folder, bool* unread);

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
// document refused the element. The dates are converted by `zone` where given, else by the
// machine's zone as it is now. `folder`, where given, is a folder held open in which the item file
// is looked for first.
//
// A header name matches a line where its first occurrence, anywhere in the line and letters in
// any case, is followed by a colon; the value follows the colon and its spaces.
XmlNode BuildCalendarElement(XmlDocument& document, const XmlNode& parent, const ListItem& item,
                             bool* unread = nullptr, const TimeZoneInfo* zone = nullptr,
                             const FolderHandle* folder = nullptr);
// The same element, put into the output: false when there is none.
bool BuildCalendarElement(ScanOutput* output, const ListItem& item, bool* unread,
                          const TimeZoneInfo& zone, const FolderHandle* folder);

}  // namespace cv
