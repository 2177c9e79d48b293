#include "index/calendar_scan.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/date_time.h"
#include "common/delimited_text.h"
#include "common/file_helpers.h"
#include "common/platform.h"
#include "common/text_helpers.h"
#include "store/appointments.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"

namespace cv {
namespace {

// Header lines are read as pieces of at most kHeaderLineSize - 1 bytes, and no more than
// kMaxHeaderLines of them: an item file without an empty line is not read to its end.
constexpr size_t kHeaderLineSize = 2047;
constexpr int kMaxHeaderLines = 201;
// A sender text this long is not believed.
constexpr size_t kMaxFromLine = 512;

bool IsMissing(uint32_t error) {
    return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

// Header names and the elements they feed, in the order in which a line is tested.
struct HeaderRow {
    const char* header;
    const char* element;
};
constexpr HeaderRow kHeaderRows[] = {
    {"Subject", "SUBJECT"},
    {"X-CVLabel", "LABEL"},
    {"X-Location", "LOCATION"},
    {"X-RecurrenceInterval", "RECURRENCEINTERVAL"},
    {"X-RecurrenceType", "RECURRENCETYPE"},
    {"X-RecurrenceInstance", "RECURRENCEINSTANCE"},
    {"X-RecurrenceState", "RECURRENCESTATE"},
    {"X-AllDayEvent", "ALLDAYEVENT"},
    {"X-BusyStatus", "BUSYSTATUS"},
    {"X-Importance", "IMPORTANCE"},
    {"X-IsRecurring", "ISRECURRING"},
    {"X-Attendees", "ATTENDEES"},
    {"X-Resources", "RESOURCES"},
    {"X-Class", "CLASS"},
    {"X-OptionalAttendees", "OPTIONALATTENDEES"},
    {"X-ReminderSet", "REMINDERSET"},
    {"X-NoEndDate", "NOENDDATE"},
    {"X-PatternStartDate", "PATTERNSTARTDATE"},
    {"X-PatternEndDate", "PATTERNENDDATE"},
    {"X-ReminderMinutesBeforeStart", "REMINDERMINUTESBEFORESTART"},
    {"X-Occurences", "OCCURRENCES"},  // the header is spelled so by the writers of item files
    {"X-RecurrenceDayOfMonth", "RECURRENCEDAYOFMONTH"},
    {"X-RecurrenceDayOfWeekMask", "RECURRENCEDAYOFWEEKMASK"},
    {"X-RecurrenceMonthOfYear", "RECURRENCEMONTHOFYEAR"},
};

// Header lines whose value is a short-form date, as ISO text.
constexpr HeaderRow kShortDateRows[] = {
    {"X-CVReminderTime: ", "REMINDERTIME"},
    {"X-CVRecurrenceRangeStart: ", "RECURRENCESTART"},
    {"X-CVRecurrenceRangeEnd: ", "RECURRENCEEND"},
};
// Header lines whose value is a short-form date, as seconds since 1970.
constexpr HeaderRow kShortTimeRows[] = {
    {"X-StartTime: ", "STARTIME"},
    {"X-FinishTime: ", "FINISHTIME"},
};

bool AppendTextChild(XmlDocument& document, XmlNode& element, const char* name, const char* text) {
    XmlNode child;
    return document.CreateElement(name, &child) && child.SetText(text) &&
           element.AppendChild(child);
}

bool AppendNumberChild(XmlDocument& document, XmlNode& element, const char* name, long number) {
    char text[32];
    std::snprintf(text, sizeof text, "%ld", number);
    return AppendTextChild(document, element, name, text);
}

// A failed conversion gives an empty text, never an earlier value.
std::string MessageDate(const char* text) {
    char iso[kIsoDateSize] = "";
    if (!ParseMessageDate(text, iso)) iso[0] = '\0';
    return iso;
}

std::string ShortDate(const char* text) {
    char iso[kIsoDateSize] = "";
    if (!ParseShortDate(text, iso)) iso[0] = '\0';
    return iso;
}

// Reads an item file as fgets would with a kHeaderLineSize buffer: a piece ends after a line
// feed or when the buffer is full.
class HeaderLineReader {
  public:
    explicit HeaderLineReader(File* file) : file_(file) {}

    // The next piece, NUL-terminated in line (kHeaderLineSize bytes); false at the end of the
    // file or on a read error.
    bool Next(char* line) {
        size_t length = 0;
        while (length < kHeaderLineSize - 1) {
            if (position_ == end_ && !Fill()) break;
            char c = buffer_[position_++];
            line[length++] = c;
            if (c == '\n') break;
        }
        line[length] = '\0';
        return length > 0 && !failed_;
    }
    bool failed() const { return failed_; }

  private:
    bool Fill() {
        int64_t got = file_->Read(buffer_, sizeof buffer_);
        if (got < 0) failed_ = true;
        if (got <= 0) return false;
        position_ = 0;
        end_ = static_cast<size_t>(got);
        return true;
    }

    File* file_;
    char buffer_[8192];
    size_t position_ = 0;
    size_t end_ = 0;
    bool failed_ = false;
};

// Tests one header line against every row, in order; each row that matches adds its child.
class HeaderScan {
  public:
    HeaderScan(XmlDocument& document, XmlNode& element) : document_(document), element_(element) {}

    void Line(const char* line) {
        if (StartsWithNoCase(line, "From: ")) From(line);
        for (const HeaderRow& row : kHeaderRows) {
            AddHeaderElement(document_, element_, line, row.header, row.element);
        }
        if (StartsWithNoCase(line, "X-Read: 1")) Add("READ", "1");
        if (StartsWithNoCase(line, "Date: ")) {
            std::string date = MessageDate(line + 6);
            Add("DATE", date.c_str());
            Add("CREATED", date.c_str());
        }
        if (!received_) {
            if (StartsWithNoCase(line, "Received: ")) {
                // The date follows the first "; "; a line without one has no date to give.
                const char* separator = std::strstr(line, "; ");
                std::string date = separator != nullptr ? MessageDate(separator + 2) : "";
                received_ = Add("RECEIVED", date.c_str());
            } else if (StartsWithNoCase(line, "Date: ")) {
                received_ = Add("RECEIVED", MessageDate(line + 6).c_str());
            }
        }
        for (const HeaderRow& row : kShortDateRows) {
            if (StartsWithNoCase(line, row.header)) {
                Add(row.element, ShortDate(line + std::strlen(row.header)).c_str());
            }
        }
        for (const HeaderRow& row : kShortTimeRows) {
            if (StartsWithNoCase(line, row.header)) {
                AppendNumberChild(document_, element_, row.element,
                                  ParseShortDateToTime(line + std::strlen(row.header)));
            }
        }
        if (StartsWithNoCase(line, "X-CVDueBy: ")) Add("DUEBY", ShortDate(line + 11).c_str());
    }

  private:
    bool Add(const char* name, const char* text) {
        return AppendTextChild(document_, element_, name, text);
    }

    void From(const char* line) {
        if (std::strlen(line) >= kMaxFromLine) {
            Add("FROM", "Unknown");
            return;
        }
        std::string sender(line + 6);
        if (!sender.empty() && sender.back() == ' ') sender.pop_back();
        Add("FROM", sender.c_str());
    }

    XmlDocument& document_;
    XmlNode& element_;
    bool received_ = false;
};

// False when a read failed before the headers' end.
bool ReadHeaders(File* file, HeaderScan* scan) {
    HeaderLineReader reader(file);
    char line[kHeaderLineSize];
    for (int count = 0; count < kMaxHeaderLines && reader.Next(line); ++count) {
        if (line[0] == '\r' || line[0] == '\n') break;  // the empty line after the headers
        size_t length = std::strlen(line);
        if (std::strstr(line, "\r\n") != nullptr) {
            length -= 2;
            line[length] = '\0';
        }
        if (std::strchr(line, '\n') != nullptr) line[--length] = '\0';
        scan->Line(line);
    }
    return !reader.failed();
}

}  // namespace

void IndexPeriod(StoreIndex* index, const char* mailbox, const char* postoffice, const char* period,
                 const Range* range, bool* unread) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    if (!CopyBounded(request.Mailbox, mailbox, sizeof request.Mailbox) ||
        !CopyBounded(request.Postoffice, postoffice, sizeof request.Postoffice) ||
        !CopyBounded(request.PeriodName, period, sizeof request.PeriodName)) {
        return;  // a name cut short would be another mailbox's or another period's
    }
    ListItem item;
    std::memset(&item, 0, sizeof item);
    CopyBounded(item.Mailbox, mailbox, sizeof item.Mailbox);
    CopyBounded(item.Postoffice, postoffice, sizeof item.Postoffice);

    // The walk filters on the ID left in the record, so it is emptied before every call.
    request.ItemId[0] = '\0';
    bool failed = false;
    for (int32_t found = FindFirstAppointment(&request, &failed); found;
         found = FindNextAppointment(&request, &failed)) {
        if (range == nullptr ||
            (request.StartTime >= range->start && request.FinishTime <= range->end)) {
            item.StartTime = request.StartTime;
            item.FinishTime = request.FinishTime;
            CopyBounded(item.ItemId, request.ItemId, sizeof item.ItemId);
            item.ItemXml[0] = '\0';
            item.ItemXmlLength = 0;
            BuildCalendarElement(index->FolderIndex, index->IndexNode.IndexNode, item, unread);
        }
        request.ItemId[0] = '\0';
    }
    if (failed) *unread = true;
}

int AddHeaderElement(XmlDocument& document, XmlNode& element, const char* line, const char* header,
                     const char* element_name) {
    const char* found = FindNoCase(line, header);
    if (found == nullptr) return 0;
    const char* value = found + std::strlen(header);
    if (*value != ':') return 0;
    ++value;
    while (*value == ' ') ++value;
    return AppendTextChild(document, element, element_name, value) ? 1 : 0;
}

XmlNode BuildCalendarElement(XmlDocument& document, const XmlNode& parent, const ListItem& item,
                             bool* unread) {
    bool unused;
    if (unread == nullptr) unread = &unused;
    XmlNode target = parent;
    if (target.IsNull() && !document.DocumentElement(&target)) return XmlNode();
    const char* id = FieldText(item.ItemId, sizeof item.ItemId);
    if (id == nullptr) return XmlNode();

    XmlNode element;
    XmlNode id_attribute;
    if (!document.CreateNode(XmlNodeType::kElement, "ELEMENT", &element) ||
        !document.CreateNode(XmlNodeType::kAttribute, "ID", &id_attribute) ||
        !id_attribute.SetText(id) || !element.SetAttributeNode(id_attribute)) {
        *unread = true;  // the document refused it: the appointment is missing from it
        return XmlNode();
    }

    // Only a name that stays inside the mailbox's Calendar folder names an item file.
    char path[kPathSize];
    bool named = HasValidMailbox(item) && IsPathComponent(item.ItemId, sizeof item.ItemId) &&
                 CalendarFilePath(path, sizeof path, item.Postoffice, item.Mailbox, id);
    if (!named) return XmlNode();
    File file;
    if (!file.Open(path, File::Mode::kRead)) {
        // An appointment without an item file has no element; one whose item file is there but
        // cannot be read leaves the scan short of it.
        if (!IsMissing(LastSystemError())) *unread = true;
        return XmlNode();
    }
    // The stamp of the file whose headers are read, taken from the open file: looked up by its
    // name, the file was opened twice for every appointment of a scan.
    FileTime written = 0;
    uint32_t stamp = file.LastWriteTime(&written) ? FileTimeToDosStamp(written) : 0;
    if (!AppendNumberChild(document, element, "START", item.StartTime) ||
        !AppendNumberChild(document, element, "END", item.FinishTime) ||
        !AppendNumberChild(document, element, "MODIFIEDDATE", static_cast<int32_t>(stamp))) {
        *unread = true;
        return XmlNode();
    }
    HeaderScan scan(document, element);
    if (!ReadHeaders(&file, &scan)) *unread = true;
    file.Close();
    if (!target.AppendChild(element)) {
        *unread = true;
        return XmlNode();
    }
    return element;
}

int ScanPeriodFiles(StoreIndex* index, const ListContext* context, bool* unread) {
    bool unused;
    if (unread == nullptr) unread = &unused;
    const char* mailbox = FieldText(context->Mailbox, sizeof context->Mailbox);
    const char* postoffice = FieldText(context->Postoffice, sizeof context->Postoffice);
    int year = 0;
    int month = 0;
    int day = 0;
    if (mailbox == nullptr || postoffice == nullptr ||
        !LocalDate(context->RangeStart, &year, &month, &day)) {
        return 1;  // no period file to read
    }
    // Only the periods of the range start's date are read, whatever the range's end. The year
    // has two digits here.
    const int yy = year - 2000;
    char periods[4][kPeriodNameSize];
    std::snprintf(periods[0], kPeriodNameSize, "Y");
    std::snprintf(periods[1], kPeriodNameSize, "Y%02d", yy);
    std::snprintf(periods[2], kPeriodNameSize, "Y%02dM%02d", yy, month);
    std::snprintf(periods[3], kPeriodNameSize, "Y%02dM%02dD%02d", yy, month, day);
    const Range range{context->RangeStart, context->RangeEnd};
    for (const char* period : periods) {
        IndexPeriod(index, mailbox, postoffice, period, &range, unread);
    }
    return 1;
}

}  // namespace cv
