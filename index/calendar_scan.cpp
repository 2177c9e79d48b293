#include "index/calendar_scan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/date_time.h"
#include "common/delimited_text.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "platform/platform.h"
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
    size_t length;  // of the header name
};
template <size_t N>
constexpr HeaderRow Row(const char (&header)[N], const char* element) {
    return {header, element, N - 1};
}
constexpr HeaderRow kHeaderRows[] = {
    Row("Subject", "SUBJECT"),
    Row("X-CVLabel", "LABEL"),
    Row("X-Location", "LOCATION"),
    Row("X-RecurrenceInterval", "RECURRENCEINTERVAL"),
    Row("X-RecurrenceType", "RECURRENCETYPE"),
    Row("X-RecurrenceInstance", "RECURRENCEINSTANCE"),
    Row("X-RecurrenceState", "RECURRENCESTATE"),
    Row("X-AllDayEvent", "ALLDAYEVENT"),
    Row("X-BusyStatus", "BUSYSTATUS"),
    Row("X-Importance", "IMPORTANCE"),
    Row("X-IsRecurring", "ISRECURRING"),
    Row("X-Attendees", "ATTENDEES"),
    Row("X-Resources", "RESOURCES"),
    Row("X-Class", "CLASS"),
    Row("X-OptionalAttendees", "OPTIONALATTENDEES"),
    Row("X-ReminderSet", "REMINDERSET"),
    Row("X-NoEndDate", "NOENDDATE"),
    Row("X-PatternStartDate", "PATTERNSTARTDATE"),
    Row("X-PatternEndDate", "PATTERNENDDATE"),
    Row("X-ReminderMinutesBeforeStart", "REMINDERMINUTESBEFORESTART"),
    Row("X-Occurences", "OCCURRENCES"),  // the header is spelled so by the writers of item files
    Row("X-RecurrenceDayOfMonth", "RECURRENCEDAYOFMONTH"),
    Row("X-RecurrenceDayOfWeekMask", "RECURRENCEDAYOFWEEKMASK"),
    Row("X-RecurrenceMonthOfYear", "RECURRENCEMONTHOFYEAR"),
};
constexpr size_t kHeaderRowCount = sizeof kHeaderRows / sizeof kHeaderRows[0];
static_assert(kHeaderRowCount <= 32, "the rows a line matches are kept in 32 bits");

// For each byte, the rows of kHeaderRows whose name ends in it (letters folded): the letter just
// before a colon rules out nearly every row at once.
struct RowsByLastLetter {
    uint32_t rows[256];
};
constexpr RowsByLastLetter MakeRowsByLastLetter() {
    RowsByLastLetter table{};
    for (size_t r = 0; r < kHeaderRowCount; ++r) {
        const HeaderRow& row = kHeaderRows[r];
        table.rows[static_cast<unsigned char>(FoldAscii(row.header[row.length - 1]))] |= 1u << r;
    }
    return table;
}
constexpr RowsByLastLetter kRowsByLastLetter = MakeRowsByLastLetter();

// Header lines whose value is a short-form date, as ISO text.
constexpr HeaderRow kShortDateRows[] = {
    Row("X-CVReminderTime: ", "REMINDERTIME"),
    Row("X-CVRecurrenceRangeStart: ", "RECURRENCESTART"),
    Row("X-CVRecurrenceRangeEnd: ", "RECURRENCEEND"),
};
// Header lines whose value is a short-form date, as seconds since 1970.
constexpr HeaderRow kShortTimeRows[] = {
    Row("X-StartTime: ", "STARTIME"),
    Row("X-FinishTime: ", "FINISHTIME"),
};

bool AppendNumberChild(ScanOutput* output, const char* name, long number) {
    char text[32];
    *std::to_chars(text, text + sizeof text - 1, number).ptr = '\0';
    return output->Value(name, text);
}

// A failed conversion gives an empty text, never an earlier value.
void MessageDate(const char* text, const TimeZoneInfo& zone, char (&iso)[kIsoDateSize]) {
    if (!ParseMessageDate(text, iso, zone)) iso[0] = '\0';
}

void ShortDate(const char* text, char (&iso)[kIsoDateSize]) {
    if (!ParseShortDate(text, iso)) iso[0] = '\0';
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
        for (bool ended = false; !ended && length < kHeaderLineSize - 1;) {
            if (position_ == end_ && !Fill()) break;
            const char* start = buffer_ + position_;
            const size_t room = std::min(kHeaderLineSize - 1 - length, end_ - position_);
            const void* feed = std::memchr(start, '\n', room);
            const size_t taken =
                feed != nullptr ? static_cast<const char*>(feed) - start + 1 : room;
            std::memcpy(line + length, start, taken);
            length += taken;
            position_ += taken;
            ended = feed != nullptr;
        }
        line[length] = '\0';
        return length > 0 && !failed_;
    }
    bool failed() const { return failed_; }

  private:
    bool Fill() {
        // The headers of most items fit in the first kilobyte: the rest is read only for the
        // few that are longer, and the body never.
        const size_t wanted = first_fill_ ? 1024 : sizeof buffer_;
        first_fill_ = false;
        int64_t got = file_->Read(buffer_, wanted);
        if (got < 0) failed_ = true;
        if (got <= 0) return false;
        position_ = 0;
        end_ = static_cast<size_t>(got);
        return true;
    }

    File* file_;
    char buffer_[8192];
    bool first_fill_ = true;
    size_t position_ = 0;
    size_t end_ = 0;
    bool failed_ = false;
};

// A header line beside its folded copy, so that each name is matched against it without folding
// the line again.
class FoldedLine {
  public:
    FoldedLine(const char* line, size_t length) : line_(line), length_(length) {
        char* folded = folded_;  // through locals, so that the loop is seen to touch nothing else
        for (size_t i = 0; i < length; ++i) folded[i] = FoldAscii(line[i]);
    }

    const char* text() const { return line_; }

    bool StartsWith(const HeaderRow& row) const { return row.length <= length_ && Matches(0, row); }

    // The rows of kHeaderRows that the line matches: a row's name, wherever it first occurs in the
    // line, followed by a colon. Only a name just before some colon can match, and lines have a
    // colon or three, so the names are tried there instead of searched for along the whole line.
    // `values` receives where each matching row's value begins (spaces after the colon skipped).
    uint32_t MatchingRows(const char* values[kHeaderRowCount]) const {
        uint32_t candidates = 0;
        for (const char* colon = static_cast<const char*>(std::memchr(folded_, ':', length_));
             colon != nullptr; colon = static_cast<const char*>(
                                   std::memchr(colon + 1, ':', length_ - (colon + 1 - folded_)))) {
            const size_t end = static_cast<size_t>(colon - folded_);
            if (end == 0) continue;
            uint32_t rows = kRowsByLastLetter.rows[static_cast<unsigned char>(folded_[end - 1])];
            for (; rows != 0; rows &= rows - 1) {
                const size_t r = static_cast<size_t>(__builtin_ctz(rows));
                const HeaderRow& row = kHeaderRows[r];
                if (row.length <= end && Matches(end - row.length, row)) candidates |= 1u << r;
            }
        }
        uint32_t matching = 0;
        for (size_t r = 0; r < kHeaderRowCount; ++r) {
            if ((candidates & (1u << r)) == 0) continue;
            const HeaderRow& row = kHeaderRows[r];
            const size_t first = FirstOccurrence(row);
            if (line_[first + row.length] != ':') continue;  // the first occurrence decides
            const char* value = line_ + first + row.length + 1;
            while (*value == ' ') ++value;
            values[r] = value;
            matching |= 1u << r;
        }
        return matching;
    }

  private:
    bool Matches(size_t at, const HeaderRow& row) const {
        for (size_t i = 0; i < row.length; ++i) {
            if (folded_[at + i] != FoldAscii(row.header[i])) return false;
        }
        return true;
    }

    // Where the row's name first occurs; called only for a name known to occur.
    size_t FirstOccurrence(const HeaderRow& row) const {
        size_t at = 0;
        while (!Matches(at, row)) ++at;
        return at;
    }

    const char* line_;
    size_t length_;
    char folded_[kHeaderLineSize];
};

// Tests one header line against every row, in order; each row that matches adds its child.
class HeaderScan {
  public:
    HeaderScan(ScanOutput* output, const TimeZoneInfo& zone) : output_(output), zone_(zone) {}

    // A header line of `length` bytes, without its line break.
    void Line(const char* text, size_t length) {
        const FoldedLine line(text, length);
        if (line.StartsWith(kFrom)) From(text);
        const char* values[kHeaderRowCount];
        const uint32_t matching = line.MatchingRows(values);
        for (size_t r = 0; matching != 0 && r < kHeaderRowCount; ++r) {
            if (matching & (1u << r)) Add(kHeaderRows[r].element, values[r]);
        }
        if (line.StartsWith(kRead)) Add("READ", "1");
        char iso[kIsoDateSize];
        const bool dated = line.StartsWith(kDate);
        if (dated) {
            MessageDate(text + kDate.length, zone_, iso);
            Add("DATE", iso);
            Add("CREATED", iso);
        }
        if (!received_) {
            if (line.StartsWith(kReceived)) {
                // The date follows the first "; "; a line without one has no date to give.
                const char* separator = std::strstr(text, "; ");
                iso[0] = '\0';
                if (separator != nullptr) MessageDate(separator + 2, zone_, iso);
                received_ = Add("RECEIVED", iso);
            } else if (dated) {
                received_ = Add("RECEIVED", iso);
            }
        }
        for (const HeaderRow& row : kShortDateRows) {
            if (line.StartsWith(row)) {
                ShortDate(text + row.length, iso);
                Add(row.element, iso);
            }
        }
        for (const HeaderRow& row : kShortTimeRows) {
            if (line.StartsWith(row)) {
                AppendNumberChild(output_, row.element,
                                  ParseShortDateToTime(text + row.length, zone_));
            }
        }
        if (line.StartsWith(kDueBy)) {
            ShortDate(text + kDueBy.length, iso);
            Add("DUEBY", iso);
        }
    }

  private:
    static constexpr HeaderRow kFrom = Row("From: ", "FROM");
    static constexpr HeaderRow kRead = Row("X-Read: 1", "READ");
    static constexpr HeaderRow kDate = Row("Date: ", "DATE");
    static constexpr HeaderRow kReceived = Row("Received: ", "RECEIVED");
    static constexpr HeaderRow kDueBy = Row("X-CVDueBy: ", "DUEBY");

    bool Add(const char* name, const char* text) { return output_->Value(name, text); }

    void From(const char* line) {
        if (std::strlen(line) >= kMaxFromLine) {
            Add("FROM", "Unknown");
            return;
        }
        std::string sender(line + kFrom.length);
        if (!sender.empty() && sender.back() == ' ') sender.pop_back();
        Add("FROM", sender.c_str());
    }

    ScanOutput* output_;
    const TimeZoneInfo& zone_;
    bool received_ = false;
};

// False when a read failed before the headers' end.
bool ReadHeaders(File* file, HeaderScan* scan) {
    HeaderLineReader reader(file);
    char line[kHeaderLineSize];
    for (int count = 0; count < kMaxHeaderLines && reader.Next(line); ++count) {
        if (line[0] == '\r' || line[0] == '\n') break;  // the empty line after the headers
        // A piece holds one line feed at most, as its last byte: the line break is looked for
        // there only.
        size_t length = std::strlen(line);
        if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
            length -= 2;
        } else if (length >= 1 && line[length - 1] == '\n') {
            --length;
        }
        line[length] = '\0';
        scan->Line(line, length);
    }
    return !reader.failed();
}

}  // namespace

void IndexPeriod(ScanOutput* output, const char* mailbox, const char* postoffice,
                 const char* period, const Range* range, const TimeZoneInfo& zone,
                 const FolderHandle* folder, bool* unread) {
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

    bool failed = false;
    VisitAllAppointments(
        request,
        [&](const PeriodLine& line) {
            if (range != nullptr && (line.start < range->start || line.finish > range->end)) return;
            item.StartTime = line.start;
            item.FinishTime = line.finish;
            // An id longer than the record's field is cut, as the walk hands it out.
            const size_t length = std::min(std::strlen(line.id), sizeof item.ItemId - 1);
            std::memcpy(item.ItemId, line.id, length);
            item.ItemId[length] = '\0';
            BuildCalendarElement(output, item, unread, zone, folder);
        },
        &failed, folder);
    if (failed) *unread = true;
}

bool DocumentOutput::Begin(const char* id) {
    XmlNode id_attribute;
    element_ = XmlNode();
    return document_.CreateNode(XmlNodeType::kElement, "ELEMENT", &element_) &&
           document_.CreateNode(XmlNodeType::kAttribute, "ID", &id_attribute) &&
           id_attribute.SetText(id) && element_.SetAttributeNode(id_attribute);
}

bool DocumentOutput::Value(const char* name, const char* text) {
    return document_.AppendTextElement(&element_, name, text);
}

bool DocumentOutput::Keep() {
    // The document element is looked up once, for the first element kept.
    const bool kept =
        (!parent_.IsNull() || document_.DocumentElement(&parent_)) && parent_.AppendChild(element_);
    kept_ = kept ? element_ : XmlNode();
    element_ = XmlNode();
    return kept;
}

bool BuildCalendarElement(ScanOutput* output, const ListItem& item, bool* unread,
                          const TimeZoneInfo& zone, const FolderHandle* folder) {
    const char* id = FieldText(item.ItemId, sizeof item.ItemId);
    if (id == nullptr) return false;
    if (!output->Begin(id)) {
        *unread = true;  // the output refused it: the appointment is missing from it
        output->Drop();
        return false;
    }

    // Only a name that stays inside the mailbox's Calendar folder names an item file.
    char path[kPathSize];
    bool named = HasValidMailbox(item) && IsPathComponent(item.ItemId, sizeof item.ItemId) &&
                 CalendarFilePath(path, sizeof path, item.Postoffice, item.Mailbox, id);
    File file;
    if (!named || !file.Open(path, File::Mode::kRead, folder)) {
        // An appointment without an item file has no element; one whose item file is there but
        // cannot be read leaves the scan short of it.
        if (named && !IsMissing(LastSystemError())) *unread = true;
        output->Drop();
        return false;
    }
    // The stamp of the file whose headers are read, taken from the open file: looked up by its
    // name, the file was opened twice for every appointment of a scan.
    FileTime written = 0;
    uint32_t stamp = file.LastWriteTime(&written) ? FileTimeToDosStamp(written) : 0;
    if (!AppendNumberChild(output, "START", item.StartTime) ||
        !AppendNumberChild(output, "END", item.FinishTime) ||
        !AppendNumberChild(output, "MODIFIEDDATE", static_cast<int32_t>(stamp))) {
        *unread = true;
        output->Drop();
        return false;
    }
    HeaderScan scan(output, zone);
    if (!ReadHeaders(&file, &scan)) *unread = true;
    file.Close();
    if (!output->Keep()) {
        *unread = true;
        return false;
    }
    return true;
}

XmlNode BuildCalendarElement(XmlDocument& document, const XmlNode& parent, const ListItem& item,
                             bool* unread, const TimeZoneInfo* zone, const FolderHandle* folder) {
    bool unused;
    TimeZoneInfo taken;
    if (zone == nullptr) {
        taken = GetTimeZoneInfo();
        zone = &taken;
    }
    XmlNode root;
    if (parent.IsNull() && !document.DocumentElement(&root)) return XmlNode();
    DocumentOutput output(document, parent);
    if (!BuildCalendarElement(&output, item, unread != nullptr ? unread : &unused, *zone, folder)) {
        return XmlNode();
    }
    return output.kept();
}

const char* ItemHeaderOf(const char* element) {
    for (const HeaderRow& row : kHeaderRows) {
        if (std::strcmp(row.element, element) == 0) return row.header;
    }
    return nullptr;
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
    // has two digits here; the writers name a year-level file by the year's own digits, which
    // differs for 2000-2009 ("Y5" beside "Y05"), so for those years both files are read.
    const int yy = year - 2000;
    char periods[5][kPeriodNameSize];
    int count = 0;
    std::snprintf(periods[count++], kPeriodNameSize, "Y");
    std::snprintf(periods[count++], kPeriodNameSize, "Y%02d", yy);
    if (yy >= 0 && yy <= 9) std::snprintf(periods[count++], kPeriodNameSize, "Y%d", yy);
    std::snprintf(periods[count++], kPeriodNameSize, "Y%02dM%02d", yy, month);
    std::snprintf(periods[count++], kPeriodNameSize, "Y%02dM%02dD%02d", yy, month, day);
    const Range range{context->RangeStart, context->RangeEnd};
    const TimeZoneInfo zone = GetTimeZoneInfo();
    DocumentOutput output(index->FolderIndex, XmlNode());
    for (int i = 0; i < count; ++i) {
        IndexPeriod(&output, mailbox, postoffice, periods[i], &range, zone, nullptr, unread);
    }
    return 1;
}

}  // namespace cv
