// import and export: iCalendar files in and out of a mailbox's calendar, in the layout of
// docs/ICALENDAR.md. Every write goes through the library's exports; only the names in the
// Calendar folder are read from its directory.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <set>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/item_dates.h"
#include "common/platform.h"
#include "common/text_helpers.h"
#include "icalendar/objects.h"
#include "index/item_properties.h"
#include "tools/cvcal/calendar_folder.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/item_io.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {
namespace {

using cvical::CalendarObject;
using cvical::CalendarWriter;
using cvical::HeaderValue;
using cvical::ItemHeader;
using cvical::MasterId;
using cvical::OccurrenceId;
using cvical::ParseShortDate;

int64_t Now() {
    return static_cast<int64_t>(cv::CurrentFileTime() / 10000000ULL) - 11644473600LL;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// One mailbox's calendar as the commands reach it.
class Store {
  public:
    Store(Context& context, const CommandLine& line, std::string calendar)
        : context_(context), line_(line), calendar_(std::move(calendar)) {}

    bool Read(const std::string& id, std::string* item) const {
        return ReadItem(context_.library, ItemRecord(line_, id), item);
    }
    bool Write(const std::string& id, const std::string& item) const {
        return WriteItem(context_.library, ItemRecord(line_, id), item);
    }
    void Delete(const std::string& id) const {
        AppointmentItemRequest record = ItemRecord(line_, id);
        context_.library.AppointmentItemDelete(&record);
    }
    AppointmentRequest Line(const std::string& id, int32_t start, int32_t finish) const {
        AppointmentRequest request = AppointmentRecord(line_);
        CopyField(request.ItemId, sizeof request.ItemId, id, "id");
        std::string period = cv::LocalPeriodName(start, finish);
        CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
        request.StartTime = start;
        request.FinishTime = finish;
        return request;
    }
    bool Add(AppointmentRequest request) const {
        return context_.library.AppointmentAdd(&request) == 1;
    }
    bool Has(AppointmentRequest request) const {
        return context_.library.AppointmentGet(&request) == 1;
    }
    void Remove(AppointmentRequest request) const { context_.library.AppointmentRemove(&request); }
    const std::string& calendar() const { return calendar_; }

  private:
    Context& context_;
    const CommandLine& line_;
    std::string calendar_;
};

// The times an item file of ours names in its headers.
bool ItemTimes(const std::string& item, int32_t* start, int32_t* finish) {
    std::string a, b;
    int64_t s = 0, f = 0;
    if (!ItemHeader(item, "X-StartTime", &a) || !ItemHeader(item, "X-FinishTime", &b) ||
        !ParseShortDate(a, &s) || !ParseShortDate(b, &f) || s < INT32_MIN || f > INT32_MAX) {
        return false;
    }
    *start = static_cast<int32_t>(s);
    *finish = static_cast<int32_t>(f);
    return true;
}

// Takes an object out: the lines first, then the item files, of the master and of every
// occurrence that names it.
void RemoveObject(const Store& store, const std::string& master_id, const std::string& master) {
    std::vector<std::string> gone;
    int32_t start = 0, finish = 0;
    if (!master.empty() && ItemTimes(master, &start, &finish)) {
        store.Remove(store.Line(master_id, start, finish));
    }
    for (const std::string& name : FileNamesBeginning(store.calendar(), master_id + "-")) {
        std::string item, of;
        if (!store.Read(name, &item) || !ItemHeader(item, "X-CVOccurrenceOf", &of) ||
            cv::CompareNoCase(of.c_str(), master_id.c_str()) != 0) {
            continue;  // not one of ours: left alone
        }
        if (ItemTimes(item, &start, &finish)) store.Remove(store.Line(name, start, finish));
        gone.push_back(name);
    }
    for (const std::string& name : gone) store.Delete(name);
    if (!master.empty()) store.Delete(master_id);
}

// Puts an object in: item files first, then the lines, the master's last, so that no line is
// without its item and the object is whole once its master's line is there.
bool WriteObject(const Store& store, const CalendarObject& object, const std::string& master_id,
                 const std::string& master_item, int64_t now) {
    const auto& all = object.occurrences;
    // A look-up makes the Calendar folder of a mailbox that has none yet, as every export does,
    // and the item writes need it.
    store.Has(store.Line(master_id, all[0].start, all[0].finish));
    for (size_t i = 1; i < all.size(); ++i) {
        if (!store.Write(OccurrenceId(master_id, all[i].start),
                         OccurrenceItemText(object, i, master_id, now))) {
            return false;
        }
    }
    if (!store.Write(master_id, master_item)) return false;
    for (size_t i = 1; i < all.size(); ++i) {
        if (!store.Add(
                store.Line(OccurrenceId(master_id, all[i].start), all[i].start, all[i].finish))) {
            return false;
        }
    }
    return store.Add(store.Line(master_id, all[0].start, all[0].finish));
}

struct Appointment {
    std::string id;
    int32_t start;
    int32_t finish;
    std::string period;
};

std::vector<Appointment> AllAppointments(Context& context, const CommandLine& line,
                                         const std::string& calendar) {
    std::vector<Appointment> all;
    for (const std::string& period : PeriodNames(calendar)) {
        AppointmentRequest request = AppointmentRecord(line);
        CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
        for (int32_t found = context.library.AppointmentFindFirst(&request); found;
             found = context.library.AppointmentFindNext(&request)) {
            all.push_back({request.ItemId, request.StartTime, request.FinishTime, period});
            request.ItemId[0] = '\0';  // otherwise the walk looks only for this id again
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Appointment& a, const Appointment& b) {
        return a.start != b.start ? a.start < b.start : a.id < b.id;
    });
    return all;
}

enum class Outcome { kAdded, kReplaced, kUnchanged, kRefused };

// The lines of an appointment made by a host (or by cvcal add) whose id is the UID: a client
// that exported it and sends it back means that appointment, not a copy beside it. Its lines are
// found by walking the periods, since a host names them by its own rule.
std::vector<const Appointment*> HostLinesOf(const std::string& uid,
                                            const std::vector<Appointment>& all,
                                            const Store& store) {
    std::vector<const Appointment*> lines;
    for (const Appointment& a : all) {
        if (cv::CompareNoCase(a.id.c_str(), uid.c_str()) == 0) lines.push_back(&a);
    }
    std::string item, of;
    if (!lines.empty() && store.Read(lines[0]->id, &item) &&
        (ItemHeader(item, "X-CVOccurrenceOf", &of) || ItemHeader(item, "X-AppointmentUID", &of))) {
        lines.clear();  // one of ours: an object has its own id
    }
    return lines;
}

Outcome StoreObject(const Store& store, const CalendarObject& object, int64_t now,
                    const std::vector<Appointment>& all, std::string* reason) {
    const std::string master_id = MasterId(object.uid);
    std::string existing, href;
    const bool there = store.Read(master_id, &existing);
    if (there) {
        std::string uid;
        if (!ItemHeader(existing, "X-AppointmentUID", &uid) || uid != HeaderValue(object.uid)) {
            *reason = "its item " + master_id + " belongs to another appointment";
            return Outcome::kRefused;
        }
        // A name a CalDAV client gave the object stays with it.
        ItemHeader(existing, "X-CVHref", &href);
    }
    const std::string item = MasterItemText(object, href, now);
    if (there) {
        std::string old_text, new_text;
        int32_t start = 0, finish = 0;
        cv::ItemMessageValue(existing, "VCALENDAR", &old_text);
        cv::ItemMessageValue(item, "VCALENDAR", &new_text);
        if (old_text == new_text && ItemTimes(existing, &start, &finish) &&
            store.Has(store.Line(master_id, start, finish))) {
            return Outcome::kUnchanged;
        }
    }
    // Also without a master: occurrences left by a write that did not finish.
    RemoveObject(store, master_id, existing);
    const std::vector<const Appointment*> host_lines = HostLinesOf(object.uid, all, store);
    for (const Appointment* a : host_lines) {
        AppointmentRequest request = store.Line(a->id, a->start, a->finish);
        CopyField(request.PeriodName, sizeof request.PeriodName, a->period, "period");
        store.Remove(request);
    }
    if (!host_lines.empty()) store.Delete(host_lines[0]->id);
    if (!WriteObject(store, object, master_id, item, now)) {
        *reason = "the store refused a write";
        return Outcome::kRefused;
    }
    return there || !host_lines.empty() ? Outcome::kReplaced : Outcome::kAdded;
}

int HorizonDays(const CommandLine& line) {
    std::string text = line.Optional("horizon", std::to_string(cvical::kDefaultHorizonDays));
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) > cvical::kMaxWindowDays) {
        throw UsageError("--horizon: expected days from 0 to " +
                         std::to_string(cvical::kMaxWindowDays));
    }
    return std::stoi(text);
}

int Import(Context& context, const CommandLine& line) {
    if (line.words().size() != 1)
        throw UsageError("import: expects one FILE (- for standard input)");
    const std::string& file = line.words()[0];
    const int horizon = HorizonDays(line);
    std::string text;
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (!cv::ReadWholeFile(file.c_str(), &text)) {
        throw UsageError(file + ": cannot read");
    }
    const int64_t now = Now();
    cvical::Window window;
    window.now = now;
    window.horizon_days = horizon;
    cvical::ParsedCalendar parsed;
    if (!cvical::ParseCalendar(text, window, &parsed)) {
        throw UsageError((file == "-" ? std::string("standard input") : file) +
                         ": not an iCalendar file (no VCALENDAR could be read)");
    }
    Store store(context, line, CheckReach(context, line, Access::kWrite));
    const std::vector<Appointment> all = AllAppointments(context, line, store.calendar());
    int counts[4] = {};
    std::vector<Output::Fields> refusals;
    for (const cvical::RefusedObject& r : parsed.refused) {
        refusals.push_back({{"uid", Output::Text(r.uid)}, {"reason", Output::Text(r.reason)}});
    }
    for (const CalendarObject& object : parsed.objects) {
        std::string reason;
        Outcome outcome = StoreObject(store, object, now, all, &reason);
        ++counts[static_cast<int>(outcome)];
        if (outcome == Outcome::kRefused) {
            refusals.push_back(
                {{"uid", Output::Text(object.uid)}, {"reason", Output::Text(reason)}});
        }
    }
    context.output.Field("added", Output::Number(counts[0]));
    context.output.Field("replaced", Output::Number(counts[1]));
    context.output.Field("unchanged", Output::Number(counts[2]));
    context.output.Field("refused", Output::Number(static_cast<int64_t>(refusals.size())));
    context.output.Field("ignored", Output::Number(parsed.ignored));
    const bool refused = !refusals.empty();
    context.output.Rows("refusals", std::move(refusals));
    return refused ? kExitRefused : kExitOk;
}

int Export(Context& context, const CommandLine& line) {
    const int32_t from = line.Has("from") ? line.Time("from") : INT32_MIN;
    const int32_t to = line.Has("to") ? line.Time("to", DayPart::kEnd) : INT32_MAX;
    if (to < from) throw UsageError("--to: before --from");
    Store store(context, line, CheckReach(context, line, Access::kRead));
    std::vector<Appointment> all = AllAppointments(context, line, store.calendar());
    std::map<std::string, const Appointment*> line_of;  // by id, letter case ignored
    for (const Appointment& a : all) line_of.emplace(Upper(a.id), &a);

    CalendarWriter writer;
    std::set<std::string> done;
    int64_t objects = 0;
    for (const Appointment& a : all) {
        if (a.finish < from || a.start > to) continue;
        std::string item, master_id;
        store.Read(a.id, &item);
        // An occurrence stands for its master, whose item holds the object.
        if (ItemHeader(item, "X-CVOccurrenceOf", &master_id)) {
            if (!done.insert(Upper(master_id)).second || !store.Read(master_id, &item)) continue;
        } else if (!done.insert(Upper(a.id)).second) {
            continue;
        }
        const std::string id = master_id.empty() ? a.id : master_id;
        std::string text;
        cv::ItemMessageValue(item, "VCALENDAR", &text);
        if (!text.empty() && writer.AddObject(text)) {
            ++objects;
        } else if (line_of.count(Upper(id)) != 0) {
            const Appointment* own = line_of[Upper(id)];
            writer.AddAppointment(own->id, own->start, own->finish, item);
            ++objects;
        }
    }
    const std::string calendar_text = writer.Text();
    if (line.Has("output")) {
        const std::string& output = line.Required("output");
        if (!cv::WriteWholeFile(output.c_str(), calendar_text)) {
            throw UsageError("--output: cannot write " + output);
        }
        context.output.Field("objects", Output::Number(objects));
        context.output.Field("output", Output::Text(output));
    } else if (context.json) {
        context.output.Field("objects", Output::Number(objects));
        context.output.Field("calendar", Output::Text(calendar_text));
    } else {
        std::fwrite(calendar_text.data(), 1, calendar_text.size(), context.results);
    }
    return kExitOk;
}

}  // namespace

std::vector<Command> ICalendarCommands() {
    const OptionSpec mailbox{"mailbox", true}, postoffice{"postoffice", true};
    return {
        {"import",
         "store the events of an iCalendar file",
         "  FILE --mailbox M --postoffice P [--horizon DAYS]\n"
         "Each object (the VEVENTs of one UID) becomes appointments with item files, one per\n"
         "occurrence up to DAYS ahead (default 365, at most 2000 occurrences). An object that is\n"
         "there already is replaced, or left as it is when its text has not changed. FILE - reads\n"
         "standard input. Exit 1 when an object was refused (no UID, no DTSTART, times beyond\n"
         "2038, an id in use by another appointment). The local store only.",
         {mailbox, postoffice, {"horizon", true}},
         Import},
        {"export",
         "write the calendar as one iCalendar file",
         "  --mailbox M --postoffice P [--from T] [--to T] [--output FILE]\n"
         "Every object with an appointment in the range (default: all), once each: stored\n"
         "objects as they were imported, other appointments as VEVENTs made from their lines\n"
         "and item files. To standard output unless --output is given. The local store only.",
         {mailbox, postoffice, {"from", true}, {"to", true}, {"output", true}},
         Export},
    };
}

}  // namespace cvcal
