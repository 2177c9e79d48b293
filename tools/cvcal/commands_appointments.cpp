// add, get, edit, remove, walk and period-name: the appointment exports, one call each.
#include <cstdio>
#include <cstring>
#include <random>

#include "common/file_helpers.h"
#include "common/platform.h"
#include "store/period_file.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/item_io.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {
namespace {

const OptionSpec kMailbox{"mailbox", true};
const OptionSpec kPostoffice{"postoffice", true};
const OptionSpec kId{"id", true};
const OptionSpec kPeriod{"period", true};
const OptionSpec kStart{"start", true};
const OptionSpec kEnd{"end", true};

// The period from --period, or from --start and --end by the library's rule.
std::string PeriodOf(const CommandLine& line) {
    if (line.Has("period")) {
        if (line.Has("start") || line.Has("end")) {
            throw UsageError("--period: give either --period or --start and --end");
        }
        return line.Required("period");
    }
    if (!line.Has("start") && !line.Has("end")) {
        throw UsageError("--period: required (or --start and --end)");
    }
    int32_t start = line.Time("start");
    int32_t end = line.Time("end");
    return cv::GetPeriodName(start, end);
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

// The item file of an appointment: a message whose headers the calendar index reads.
std::string ItemMessage(const CommandLine& line, int32_t start, int32_t end) {
    for (const char* option : {"subject", "location"}) {
        if (line.Optional(option).find_first_of("\r\n") != std::string::npos) {
            throw UsageError(std::string("--") + option + ": must be one line");
        }
    }
    std::string message;
    message += "Subject: " + line.Optional("subject") + "\r\n";
    message += "X-Location: " + line.Optional("location") + "\r\n";
    message += "X-StartTime: " + ShortDateText(start) + "\r\n";
    message += "X-FinishTime: " + ShortDateText(end) + "\r\n";
    message +=
        "Date: " +
        MessageDateText(static_cast<int64_t>(cv::CurrentFileTime() / 10000000ULL) - 11644473600LL) +
        "\r\n";
    message += "\r\n";
    if (line.Has("body-file")) message += ReadBodyFile(line.Required("body-file"));
    return message;
}

void ShowAppointment(Output& out, const AppointmentRequest& r, const std::string& period) {
    out.Field("id", Output::Text(r.ItemId));
    out.Field("period", Output::Text(period));
    out.Field("start", Output::Text(LocalTimeText(r.StartTime)));
    out.Field("end", Output::Text(LocalTimeText(r.FinishTime)));
    out.Field("start_seconds", Output::Number(r.StartTime));
    out.Field("end_seconds", Output::Number(r.FinishTime));
}

int Refused(Context& context, const std::string& why) {
    context.output.Field("result", Output::Number(0));
    context.output.Say(why);
    return kExitRefused;
}

int Add(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    int32_t start = line.Time("start");
    int32_t end = line.Time("end");
    CheckOrder(start, end, "end");
    std::string id = line.Has("id") ? line.Required("id") : NewId();
    CopyField(request.ItemId, sizeof request.ItemId, id, "id");
    std::string period = cv::GetPeriodName(start, end);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    request.StartTime = start;
    request.FinishTime = end;
    std::string message = ItemMessage(line, start, end);
    if (context.library.add(&request) != 1) {
        return Refused(context, "not added: " + id + " is already in period " + period +
                                    ", or the store refused the record");
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
    CopyField(request.ItemId, sizeof request.ItemId, line.Required("id"), "id");
    std::string period = PeriodOf(line);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    if (context.library.get(&request) != 1) {
        return Refused(context, "not found: " + line.Required("id") + " in period " + period);
    }
    context.output.Field("result", Output::Number(1));
    ShowAppointment(context.output, request, period);
    return kExitOk;
}

int Edit(Context& context, const CommandLine& line) {
    AppointmentRequest old_request = AppointmentRecord(line);
    CopyField(old_request.ItemId, sizeof old_request.ItemId, line.Required("id"), "id");
    std::string period = PeriodOf(line);
    CopyField(old_request.PeriodName, sizeof old_request.PeriodName, period, "period");
    AppointmentRequest new_request = old_request;
    new_request.StartTime = line.Time("new-start");
    new_request.FinishTime = line.Time("new-end");
    CheckOrder(new_request.StartTime, new_request.FinishTime, "new-end");
    if (line.Has("new-id")) {
        CopyField(new_request.ItemId, sizeof new_request.ItemId, line.Required("new-id"), "new-id");
    }
    std::string new_period = cv::GetPeriodName(new_request.StartTime, new_request.FinishTime);
    // An edit keeps the line in its period file; times of another period would be lost to every
    // reader that looks for them where they belong.
    if (new_period != period && !line.Has("keep-period")) {
        throw UsageError("--new-start: the new times belong to period " + new_period + ", not " +
                         period + "; remove and add instead (or --keep-period)");
    }
    int32_t result = context.library.edit(&old_request, &new_request);
    if (result != 1) return Refused(context, "not edited: period " + period + " has no file");
    context.output.Field("result", Output::Number(1));
    ShowAppointment(context.output, new_request, period);
    return kExitOk;
}

int Remove(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    std::string id = line.Required("id");
    if (id.empty()) throw UsageError("--id: must not be empty (an empty id removes everything)");
    CopyField(request.ItemId, sizeof request.ItemId, id, "id");
    std::string period = PeriodOf(line);
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    if (context.library.remove(&request) != 1) {
        return Refused(context, "not found: " + id + " in period " + period);
    }
    AppointmentItemRequest item = ItemRecord(line, id);
    context.library.item_delete(&item);
    context.output.Field("result", Output::Number(1));
    context.output.Field("removed", Output::Text(id));
    context.output.Field("period", Output::Text(period));
    return kExitOk;
}

int Walk(Context& context, const CommandLine& line) {
    AppointmentRequest request = AppointmentRecord(line);
    std::string period = line.Required("period");
    CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
    std::vector<Output::Fields> rows;
    for (int32_t found = context.library.find_first(&request); found;
         found = context.library.find_next(&request)) {
        rows.push_back({{"start", Output::Text(LocalTimeText(request.StartTime))},
                        {"end", Output::Text(LocalTimeText(request.FinishTime))},
                        {"id", Output::Text(request.ItemId)},
                        {"start_seconds", Output::Number(request.StartTime)},
                        {"end_seconds", Output::Number(request.FinishTime)}});
        request.ItemId[0] = '\0';  // otherwise the walk looks only for this id again
    }
    context.output.Field("period", Output::Text(period));
    context.output.Field("count", Output::Number(static_cast<int64_t>(rows.size())));
    context.output.Rows("appointments", std::move(rows));
    return kExitOk;
}

int PeriodName(Context& context, const CommandLine& line) {
    int32_t start = line.Time("start");
    int32_t end = line.Time("end");
    CheckOrder(start, end, "end");
    context.output.Field("period", Output::Text(cv::GetPeriodName(start, end)));
    return kExitOk;
}

}  // namespace

std::vector<Command> AppointmentCommands() {
    return {
        {"add",
         "add an appointment and write its item file",
         "  --mailbox M --postoffice P --start T --end T [--id ID] [--subject S]\n"
         "  [--location L] [--body-file F]\n"
         "Puts the line into the period file that the times name and writes the item file\n"
         "(Subject, X-Location, X-StartTime, X-FinishTime, Date, then the body). Without --id\n"
         "a unique id is made up. Exit 1 when the id is already in the period.",
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
         {kMailbox, kPostoffice, kId, kPeriod, kStart, kEnd},
         Get},
        {"edit",
         "change an appointment's times (and id) in place",
         "  --mailbox M --postoffice P --id ID (--period NAME | --start T --end T)\n"
         "  --new-start T --new-end T [--new-id ID] [--keep-period]\n"
         "Every line with the id gets the new values; the line stays in its period file, so\n"
         "new times of another period are refused unless --keep-period is given.",
         {kMailbox,
          kPostoffice,
          kId,
          kPeriod,
          kStart,
          kEnd,
          {"new-start", true},
          {"new-end", true},
          {"new-id", true},
          {"keep-period", false}},
         Edit},
        {"remove",
         "remove an appointment and its item file",
         "  --mailbox M --postoffice P --id ID (--period NAME | --start T --end T)\n"
         "Exit 1 when the period holds no such id (the item file is then left alone).",
         {kMailbox, kPostoffice, kId, kPeriod, kStart, kEnd},
         Remove},
        {"walk",
         "list every appointment of one period file",
         "  --mailbox M --postoffice P --period NAME",
         {kMailbox, kPostoffice, kPeriod},
         Walk},
        {"period-name",
         "the period file name for a start and an end",
         "  --start T --end T",
         {kStart, kEnd},
         PeriodName},
    };
}

}  // namespace cvcal
