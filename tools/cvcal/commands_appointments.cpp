// add, get, edit, remove, walk and period-name: the appointment exports, one call each.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/code_page.h"
#include "common/file_helpers.h"
#include "host/item_dates.h"
#include "platform/platform.h"
#include "common/text_helpers.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/item_io.h"
#include "tools/cvcal/time_text.h"
#include "tools/cvcal/wait_spinner.h"

namespace cvcal {
namespace {

const OptionSpec kMailbox{"mailbox", true};
const OptionSpec kPostoffice{"postoffice", true};
const OptionSpec kId{"id", true};
const OptionSpec kPeriod{"period", true};
const OptionSpec kStart{"start", true};
const OptionSpec kEnd{"end", true};

// The period from --period, or from --start and --end by their local dates (as the list reads).
// The two digits after `letter` at `from`, as a number from low to high; -1 when not there.
int TwoDigits(const std::string& name, size_t from, char letter, int low, int high) {
    if (name.size() < from + 3 || name[from] != letter || !std::isdigit(name[from + 1] & 0xFF) ||
        !std::isdigit(name[from + 2] & 0xFF)) {
        return -1;
    }
    const int value = (name[from + 1] - '0') * 10 + (name[from + 2] - '0');
    return value >= low && value <= high ? value : -1;
}

// A period name as the writers make them: "Y", a year ("Y26", "Y5" for 2005, "Y-3" for 1997),
// then perhaps a month of it ("M12"), then perhaps a day of that month ("D07"). A month or day
// that no calendar has names no file that any writer makes.
bool IsPeriodName(const std::string& name) {
    if (name == "Y") return true;
    if (name.size() < 2 || name[0] != 'Y') return false;
    const size_t first = name[1] == '-' ? 2 : 1;
    const size_t end = std::min(name.find_first_not_of("0123456789", first), name.size());
    if (end == first || end - first > 5) return false;
    if (end == name.size()) return true;
    const int month = TwoDigits(name, end, 'M', 1, 12);
    if (month < 0) return false;
    if (name.size() == end + 3) return true;
    const long year = 2000 + std::stol(name.substr(1, end - 1));
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    const int days = month == 2 ? (leap ? 29 : 28) : 30 + (month + month / 8) % 2;
    return name.size() == end + 6 && TwoDigits(name, end + 3, 'D', 1, days) > 0;
}

std::string PeriodOf(const CommandLine& line) {
    if (line.Has("period")) {
        if (line.Has("start") || line.Has("end")) {
            throw UsageError("--period: give either --period or --start and --end");
        }
        const std::string& period = line.Required("period");
        if (!IsPeriodName(period)) {
            throw UsageError("--period: not a period name (Y, Y26, Y26M12 or Y26M12D07)");
        }
        return period;
    }
    if (!line.Has("start") && !line.Has("end")) {
        throw UsageError("--period: required (or --start and --end)");
    }
    int32_t start = line.Time("start");
    int32_t end = line.Time("end");
    return cv::LocalPeriodName(start, end);
}

// The blocking file of a period in a local Calendar folder; empty when the folder is not known.
std::string BlockingFile(const std::string& calendar, const std::string& period) {
    return calendar.empty() ? std::string() : calendar + "\\" + period + ".BLK";
}

// Whether the period holds the id (the library's look-up, which waits while a writer holds the
// period: `calendar` names the folder where the spinner looks for the writer's blocking file).
bool InPeriod(Context& context, const CommandLine& line, const std::string& id,
              const std::string& period, const std::string& calendar) {
    AppointmentRequest request = AppointmentRecord(line);
    CopyField(request.ItemId, sizeof request.ItemId, id, "id");
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    return WithWaitSpinner(BlockingFile(calendar, period),
                           [&] { return context.library.AppointmentGet(&request); }) == 1;
}

// Whether an item file of that name is there.
bool HasItem(Context& context, const CommandLine& line, const std::string& id) {
    std::string bytes;
    return ReadItem(context.library, ItemRecord(line, id), &bytes);
}

void CheckOrder(int32_t start, int32_t end, const char* end_option) {
    if (end < start) throw UsageError(std::string("--") + end_option + ": before the start");
}

// A fresh id: time and randomness, as hex, unique enough for one store.
std::string NewId() {
    std::random_device random;
    char id[40];
    std::snprintf(id, sizeof id, "%08llX%08X%04X",
                  static_cast<unsigned long long>(cv::CurrentFileTime() / 10000000ULL & 0xFFFFFFFF),
                  random(), random() & 0xFFFF);
    return id;
}

std::string ReadBodyFile(const std::string& path) {
    std::string text;
    if (!cv::ReadWholeFile(path.c_str(), &text)) {
        throw UsageError("--body-file: cannot read " + path);
    }
    if (text.find('\0') != std::string::npos) {
        throw UsageError("--body-file: item bodies are text; " + path + " holds NUL bytes");
    }
    return text;
}

// A header's text from an option: one line, in UTF-8 whichever build writes it (the Windows
// build's arguments are in the ANSI code page), so that every reader of the item reads the same.
std::string HeaderText(const CommandLine& line, const char* option) {
    const std::string value = line.Optional(option);
    if (value.find_first_of("\r\n") != std::string::npos) {
        throw UsageError(std::string("--") + option + ": must be one line");
    }
    return cv::CodePageToUtf8(value);
}

// The item file of an appointment: a message whose headers the calendar index reads.
std::string ItemMessage(const CommandLine& line, int32_t start, int32_t end) {
    std::string message;
    message += "Subject: " + HeaderText(line, "subject") + "\r\n";
    message += "X-Location: " + HeaderText(line, "location") + "\r\n";
    message += "X-StartTime: " + cv::ShortDateText(start) + "\r\n";
    message += "X-FinishTime: " + cv::ShortDateText(end) + "\r\n";
    message += "Date: " +
               cv::MessageDateText(static_cast<int64_t>(cv::CurrentFileTime() / 10000000ULL) -
                                   11644473600LL) +
               "\r\n";
    message += "\r\n";
    if (line.Has("body-file")) message += ReadBodyFile(line.Required("body-file"));
    return message;
}

void ShowAppointment(Output& out, const AppointmentRequest& r, const std::string& period) {
    out.Field("id", Output::Text(r.ItemId));
    out.Field("period", Output::Text(period));
    out.Field("start", Output::Time(r.StartTime));
    out.Field("end", Output::Time(r.FinishTime));
    out.Field("start_seconds", Output::Number(r.StartTime));
    out.Field("end_seconds", Output::Number(r.FinishTime));
}

[[noreturn]] void Refused(const std::string& why) {
    throw Failure(kExitRefused, why);
}

int Add(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    int32_t start = line.Time("start");
    int32_t end = line.Time("end");
    CheckOrder(start, end, "end");
    std::string id = line.Has("id") ? line.Required("id") : NewId();
    CheckId(id, "id", true);
    CopyField(request.ItemId, sizeof request.ItemId, id, "id");
    std::string period = cv::LocalPeriodName(start, end);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    request.StartTime = start;
    request.FinishTime = end;
    std::string message = ItemMessage(line, start, end);
    std::string calendar = CheckReach(context, line, Access::kWrite);
    if (InPeriod(context, line, id, period, calendar)) {
        Refused("not added: " + id + " is already in period " + period);
    }
    // The item file is named by the id alone: another appointment's would be overwritten.
    if (HasItem(context, line, id)) {
        Refused("not added: an item file " + id + " is there already (the id is in use)");
    }
    if (WithWaitSpinner(BlockingFile(calendar, period),
                        [&] { return context.library.AppointmentAdd(&request); }) != 1) {
        ExplainRemoteFailure(context);
        if (InPeriod(context, line, id, period, calendar)) {
            Refused("not added: " + id + " is already in period " + period);
        }
        Refused("not added: the store refused the record of " + id + " in period " + period);
    }
    if (!WriteItem(context.library, ItemRecord(line, id), message)) {
        context.output.Say("warning: the item file of " + id + " was not written in full");
    }
    context.output.Field("result", Output::Number(1));
    ShowAppointment(context.output, request, period);
    context.output.Field("item_bytes", Output::Number(static_cast<int64_t>(message.size())));
    return kExitOk;
}

int Get(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    CheckId(line.Required("id"), "id", false);
    CopyField(request.ItemId, sizeof request.ItemId, line.Required("id"), "id");
    std::string period = PeriodOf(line);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    std::string calendar = CheckReach(context, line, Access::kRead);
    if (WithWaitSpinner(BlockingFile(calendar, period),
                        [&] { return context.library.AppointmentGet(&request); }) != 1) {
        ExplainRemoteFailure(context);
        Refused("not found: " + line.Required("id") + " in period " + period);
    }
    context.output.Field("result", Output::Number(1));
    ShowAppointment(context.output, request, period);
    return kExitOk;
}

// Renames an item file: in the local Calendar folder directly (the bytes stay as they are,
// whatever they hold), through the item exports in remote mode. True also when there is none.
bool MoveItem(Context& context, const CommandLine& line, const std::string& calendar,
              const std::string& from, const std::string& to) {
    if (!calendar.empty()) {
        std::string old_path = calendar + "\\" + from;
        if (!cv::EntryExists(old_path.c_str())) return true;
        return cv::MoveFileTo(old_path.c_str(), (calendar + "\\" + to).c_str());
    }
    std::string bytes;
    if (!ReadItem(context.library, ItemRecord(line, from), &bytes)) return true;
    if (bytes.find('\0') != std::string::npos) return false;
    if (!WriteItem(context.library, ItemRecord(line, to), bytes)) return false;
    AppointmentItemRequest old_item = ItemRecord(line, from);
    context.library.AppointmentItemDelete(&old_item);
    return true;
}

int Edit(Context& context, const CommandLine& line) {
    AppointmentRequest old_request = AppointmentRecord(line);
    const std::string& id = line.Required("id");
    CheckId(id, "id", false);
    CopyField(old_request.ItemId, sizeof old_request.ItemId, id, "id");
    std::string period = PeriodOf(line);
    CopyField(old_request.PeriodName, sizeof old_request.PeriodName, period, "period");
    AppointmentRequest new_request = old_request;
    new_request.StartTime = line.Time("new-start");
    new_request.FinishTime = line.Time("new-end");
    CheckOrder(new_request.StartTime, new_request.FinishTime, "new-end");
    std::string new_id = line.Optional("new-id", id);
    // Ids compare without regard to case, as the library compares them.
    bool renamed = !line.Has("new-id") ? false : cv::CompareNoCase(new_id.c_str(), id.c_str()) != 0;
    if (line.Has("new-id")) {
        CheckId(new_id, "new-id", true);
        CopyField(new_request.ItemId, sizeof new_request.ItemId, new_id, "new-id");
    }
    std::string new_period = cv::LocalPeriodName(new_request.StartTime, new_request.FinishTime);
    // An edit keeps the line in its period file; times of another period would be lost to every
    // reader that looks for them where they belong.
    if (new_period != period && !line.Has("keep-period")) {
        throw UsageError("--new-start: the new times belong to period " + new_period + ", not " +
                         period + "; remove and add instead (or --keep-period)");
    }
    std::string calendar = CheckReach(context, line, Access::kWrite);
    // The edit export answers 1 for an id that is not there: look first.
    if (!InPeriod(context, line, id, period, calendar)) {
        ExplainRemoteFailure(context);
        Refused("not found: " + id + " in period " + period);
    }
    if (renamed && InPeriod(context, line, new_id, period, calendar)) {
        Refused("not edited: " + new_id + " is already in period " + period);
    }
    if (renamed && HasItem(context, line, new_id)) {
        Refused("not edited: an item file " + new_id + " is there already (the id is in use)");
    }
    if (WithWaitSpinner(BlockingFile(calendar, period), [&] {
            return context.library.AppointmentEdit(&old_request, &new_request);
        }) != 1) {
        ExplainRemoteFailure(context);
        Refused("not edited: the store refused the change of " + id + " in period " + period);
    }
    // The item file goes with its id, or the appointment would lose its properties in lists.
    if (renamed && !MoveItem(context, line, calendar, id, new_id)) {
        context.output.Say("warning: the item file of " + id + " could not be renamed to " +
                           new_id);
    }
    // The item's headers say the times too, as the mail server's hosts keep them: they change
    // with the line, and with them the subject and location asked for.
    std::string item;
    const std::string item_id = renamed ? new_id : id;
    if (ReadItem(context.library, ItemRecord(line, item_id), &item)) {
        std::string changed =
            WithHeader(item, "X-StartTime", cv::ShortDateText(new_request.StartTime));
        changed = WithHeader(changed, "X-FinishTime", cv::ShortDateText(new_request.FinishTime));
        if (line.Has("subject"))
            changed = WithHeader(changed, "Subject", HeaderText(line, "subject"));
        if (line.Has("location")) {
            changed = WithHeader(changed, "X-Location", HeaderText(line, "location"));
        }
        if (changed != item && !WriteItem(context.library, ItemRecord(line, item_id), changed)) {
            context.output.Say("warning: the item file of " + item_id +
                               " could not be brought up to date");
        }
    } else if (line.Has("subject") || line.Has("location")) {
        context.output.Say("warning: " + item_id +
                           " has no item file to hold the subject and location");
    }
    context.output.Field("result", Output::Number(1));
    ShowAppointment(context.output, new_request, period);
    return kExitOk;
}

int Remove(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    std::string id = line.Required("id");
    if (id.empty()) throw UsageError("--id: must not be empty (an empty id removes everything)");
    CheckId(id, "id", false);
    CopyField(request.ItemId, sizeof request.ItemId, id, "id");
    std::string period = PeriodOf(line);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    std::string calendar = CheckReach(context, line, Access::kWrite);
    if (WithWaitSpinner(BlockingFile(calendar, period),
                        [&] { return context.library.AppointmentRemove(&request); }) != 1) {
        ExplainRemoteFailure(context);
        Refused("not found: " + id + " in period " + period);
    }
    AppointmentItemRequest item = ItemRecord(line, id);
    context.library.AppointmentItemDelete(&item);
    context.output.Field("result", Output::Number(1));
    context.output.Field("removed", Output::Text(id));
    context.output.Field("period", Output::Text(period));
    return kExitOk;
}

int Walk(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    std::string period = PeriodOf(line);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    const std::string blocking = BlockingFile(CheckReach(context, line, Access::kRead), period);
    std::vector<Output::Fields> rows;
    // The whole walk on one thread: its position is the thread's own.
    WithWaitSpinner(blocking, [&] {
        for (int32_t found = context.library.AppointmentFindFirst(&request); found;
             found = context.library.AppointmentFindNext(&request)) {
            rows.push_back({{"start", Output::Time(request.StartTime)},
                            {"end", Output::Time(request.FinishTime)},
                            {"id", Output::Text(request.ItemId)},
                            {"start_seconds", Output::Number(request.StartTime)},
                            {"end_seconds", Output::Number(request.FinishTime)}});
            request.ItemId[0] = '\0';  // otherwise the walk looks only for this id again
        }
        return 1;
    });
    // Nothing found remotely may be a host that cannot be reached.
    if (rows.empty()) ExplainRemoteFailure(context);
    context.output.Field("period", Output::Text(period));
    context.output.Field("count", Output::Number(static_cast<int64_t>(rows.size())));
    context.output.Rows("appointments", std::move(rows));
    return kExitOk;
}

int PeriodName(Context& context, const CommandLine& line) {
    int32_t start = line.Time("start");
    int32_t end = line.Time("end");
    CheckOrder(start, end, "end");
    context.output.Field("period", Output::Text(cv::LocalPeriodName(start, end)));
    return kExitOk;
}

}  // namespace

std::vector<Command> AppointmentCommands() {
    return {
        {"add",
         "add an appointment and write its item file",
         "  --mailbox M --postoffice P --start T --end T [--id ID] [--subject S]\n"
         "  [--location L] [--body-file F]\n"
         "Puts the line into the period file that the local dates of the times name and writes\n"
         "the item file (Subject, X-Location, X-StartTime, X-FinishTime, Date, then the body).\n"
         "Without --id a unique id is made up; an id must be one file name (no / \\ : * ?).\n"
         "Exit 1 when the id is already in the period or has an item file.",
         "  cvcal add --mailbox anna --postoffice example --start 2026-12-07T09:00 --end "
         "2026-12-07T10:00 --subject \"Team sync\"\n"
         "  cvcal add --mailbox anna --postoffice example --id review-1 --start 2026-12-08T14:00 "
         "--end 2026-12-08T15:30 --location \"Room 4\" --body-file agenda.txt",
         {kMailbox,
          kPostoffice,
          kStart,
          kEnd,
          kId,
          {"subject", true},
          {"location", true},
          {"body-file", true}},
         Add},
        {"get",
         "show one appointment",
         "  --mailbox M --postoffice P --id ID (--period NAME | --start T --end T)\n"
         "Exit 1 when the period holds no such id.",
         "  cvcal get --mailbox anna --postoffice example --id review-1 --period Y26M12D08\n"
         "  cvcal --json get --mailbox anna --postoffice example --id review-1 --start "
         "2026-12-08T14:00 --end 2026-12-08T15:30",
         {kMailbox, kPostoffice, kId, kPeriod, kStart, kEnd},
         Get},
        {"edit",
         "change an appointment's times (and id, subject, location) in place",
         "  --mailbox M --postoffice P --id ID (--period NAME | --start T --end T)\n"
         "  --new-start T --new-end T [--new-id ID] [--subject S] [--location L] [--keep-period]\n"
         "Every line with the id gets the new values; the line stays in its period file, so\n"
         "new times of another period are refused unless --keep-period is given. With --new-id\n"
         "the item file is renamed too. The item's X-StartTime and X-FinishTime follow the new\n"
         "times, and its Subject and X-Location the new texts. Exit 1 when the id is not in the\n"
         "period, or the new id is in use.",
         "  cvcal edit --mailbox anna --postoffice example --id review-1 --period Y26M12D08 "
         "--new-start 2026-12-08T16:00 --new-end 2026-12-08T17:00\n"
         "  cvcal edit --mailbox anna --postoffice example --id review-1 --period Y26M12D08 "
         "--new-start 2026-12-08T16:00 --new-end 2026-12-08T17:00 --new-id review-2 --subject "
         "\"Review (moved)\"",
         {kMailbox,
          kPostoffice,
          kId,
          kPeriod,
          kStart,
          kEnd,
          {"new-start", true},
          {"new-end", true},
          {"new-id", true},
          {"subject", true},
          {"location", true},
          {"keep-period", false}},
         Edit},
        {"remove",
         "remove an appointment and its item file",
         "  --mailbox M --postoffice P --id ID (--period NAME | --start T --end T)\n"
         "Exit 1 when the period holds no such id (the item file is then left alone).",
         "  cvcal remove --mailbox anna --postoffice example --id review-2 --period Y26M12D08",
         {kMailbox, kPostoffice, kId, kPeriod, kStart, kEnd},
         Remove},
        {"walk",
         "list every appointment of one period file",
         "  --mailbox M --postoffice P (--period NAME | --start T --end T)\n"
         "--start and --end name the period their local dates give (--start today --end today:\n"
         "today's own period file).",
         "  cvcal walk --mailbox anna --postoffice example --period Y26M12D07\n"
         "  cvcal walk --mailbox anna --postoffice example --start today --end today",
         {kMailbox, kPostoffice, kPeriod, kStart, kEnd},
         Walk},
        {"period-name",
         "the period file name for a start and an end",
         "  --start T --end T",
         "  cvcal period-name --start 2026-12-07T09:00 --end 2026-12-07T10:00\n"
         "  cvcal period-name --start 2026-12-07T09:00 --end 2026-12-09T09:00",
         {kStart, kEnd},
         PeriodName},
    };
}

}  // namespace cvcal
