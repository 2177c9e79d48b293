// item get|put|size|delete and freebusy: the item and free/busy exports.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>

#include "common/file_helpers.h"
#include "host/host_files.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/item_io.h"

namespace cvcal {
namespace {

const OptionSpec kMailbox{"mailbox", true};
const OptionSpec kPostoffice{"postoffice", true};
const OptionSpec kId{"id", true};
const OptionSpec kFile{"file", true};

int ItemGet(Context& context, const CommandLine& line) {
    std::string id = line.Required("id");
    CheckId(id, "id", true);
    CheckReach(context, line, Access::kRead);
    std::string bytes;
    if (!ReadItem(context.library, ItemRecord(line, id), &bytes)) {
        ExplainRemoteFailure(context);
        throw Failure(kExitRefused, "not found: no item file " + id);
    }
    if (line.Has("file")) {
        if (!cv::WriteWholeFile(line.Required("file").c_str(), bytes)) {
            throw UsageError("--file: cannot write " + line.Required("file"));
        }
        context.output.Field("id", Output::Text(id));
        context.output.Field("bytes", Output::Number(static_cast<int64_t>(bytes.size())));
        context.output.Field("file", Output::Text(line.Required("file")));
    } else if (context.json) {
        context.output.Field("id", Output::Text(id));
        context.output.Field("bytes", Output::Number(static_cast<int64_t>(bytes.size())));
        context.output.Field("content", Output::Text(bytes));
    } else {
        std::fwrite(bytes.data(), 1, bytes.size(), context.results);
    }
    return kExitOk;
}

int ItemPut(Context& context, const CommandLine& line) {
    std::string id = line.Required("id");
    CheckId(id, "id", true);
    std::string text;
    if (line.Has("file")) {
        if (!cv::ReadWholeFile(line.Required("file").c_str(), &text)) {
            throw UsageError("--file: cannot read " + line.Required("file"));
        }
    } else {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    if (text.find('\0') != std::string::npos) {
        throw UsageError("--file: item files are written as text; this one holds NUL bytes");
    }
    CheckReach(context, line, Access::kWrite);
    if (!WriteItem(context.library, ItemRecord(line, id), text)) {
        ExplainRemoteFailure(context);
        throw Failure(kExitRefused, "the item file " + id + " was not written in full");
    }
    context.output.Field("result", Output::Number(1));
    context.output.Field("id", Output::Text(id));
    context.output.Field("bytes", Output::Number(static_cast<int64_t>(text.size())));
    return kExitOk;
}

// Whether the item file is there: the size export answers 0 alike for an empty file and for none.
bool ItemThere(Context& context, const CommandLine& line, const std::string& id) {
    std::string bytes;
    if (ReadItem(context.library, ItemRecord(line, id), &bytes)) return true;
    ExplainRemoteFailure(context);
    return false;
}

int ItemSize(Context& context, const CommandLine& line) {
    CheckId(line.Required("id"), "id", true);
    CheckReach(context, line, Access::kRead);
    if (!ItemThere(context, line, line.Required("id"))) {
        throw Failure(kExitRefused, "not found: no item file " + line.Required("id"));
    }
    AppointmentItemRequest record = ItemRecord(line, line.Required("id"));
    context.library.AppointmentItemGetSize(&record);
    context.output.Field("id", Output::Text(line.Required("id")));
    context.output.Field("bytes", Output::Number(record.DataLength));
    return kExitOk;
}

int ItemDelete(Context& context, const CommandLine& line) {
    CheckId(line.Required("id"), "id", true);
    CheckReach(context, line, Access::kWrite);
    // The export answers 1 whether or not there was a file: look first.
    if (!ItemThere(context, line, line.Required("id"))) {
        throw Failure(kExitRefused, "not deleted: there is no item file " + line.Required("id"));
    }
    AppointmentItemRequest record = ItemRecord(line, line.Required("id"));
    context.library.AppointmentItemDelete(&record);
    if (ItemThere(context, line, line.Required("id"))) {
        throw Failure(kExitRefused,
                      "not deleted: the item file " + line.Required("id") + " is still there");
    }
    context.output.Field("deleted", Output::Text(line.Required("id")));
    return kExitOk;
}

int FreeBusy(Context& context, const CommandLine& line) {
    const std::string& month = line.Required("month");
    int year = 0, number = 0;
    char tail = 0;
    if (month.size() != 7 || std::sscanf(month.c_str(), "%4d-%2d%c", &year, &number, &tail) != 2 ||
        number < 1 || number > 12) {
        throw UsageError("--month: expected YYYY-MM");
    }
    // The months that appointments can lie in: those of 32-bit times from 1970.
    if (year < 1970 || year > 2038 || (year == 2038 && number > 1)) {
        throw UsageError("--month: outside 1970-01 to 2038-01");
    }
    FreeBusyRequest request;
    std::memset(&request, 0, sizeof request);
    CopyField(request.Mailbox, sizeof request.Mailbox, line.Required("mailbox"), "mailbox");
    CopyField(request.Postoffice, sizeof request.Postoffice, line.Required("postoffice"),
              "postoffice");
    std::snprintf(request.NamePrefix, sizeof request.NamePrefix, "Y%02dM%02d", year - 2000, number);
    CheckReach(context, line, Access::kRead);
    context.library.GetFreeBusyData(&request);
    // The library answers in directory order; people read days in order.
    std::vector<std::string> days;
    std::stringstream list(request.BusyDays);
    for (std::string day; std::getline(list, day, ',');) {
        if (!day.empty()) days.push_back(day);
    }
    std::sort(days.begin(), days.end());
    std::string joined;
    std::vector<int64_t> numbers;
    for (const std::string& day : days) {
        joined += (joined.empty() ? "" : ",") + day;
        numbers.push_back(std::atoi(day.c_str()));
    }
    context.output.Field("month", Output::Text(month));
    context.output.Field("period_prefix", Output::Text(request.NamePrefix));
    context.output.Field("busy_days", Output::Numbers(numbers, joined));
    context.output.Field("count", Output::Number(static_cast<int64_t>(days.size())));
    return kExitOk;
}

}  // namespace

std::vector<Command> ItemCommands() {
    return {
        {"item get",
         "print an item file (or write it to --file)",
         "  --mailbox M --postoffice P --id ID [--file F]",
         "  cvcal item get --mailbox anna --postoffice example --id review-1\n"
         "  cvcal item get --mailbox anna --postoffice example --id review-1 --file review-1.eml",
         {kMailbox, kPostoffice, kId, kFile},
         ItemGet},
        {"item put",
         "write an item file from --file (or standard input)",
         "  --mailbox M --postoffice P --id ID [--file F]",
         "  cvcal item put --mailbox anna --postoffice example --id review-1 --file review-1.eml\n"
         "  cvcal item put --mailbox anna --postoffice example --id review-1 < review-1.eml",
         {kMailbox, kPostoffice, kId, kFile},
         ItemPut},
        {"item size",
         "the size of an item file in bytes",
         "  --mailbox M --postoffice P --id ID",
         "  cvcal item size --mailbox anna --postoffice example --id review-1",
         {kMailbox, kPostoffice, kId},
         ItemSize},
        {"item delete",
         "delete an item file",
         "  --mailbox M --postoffice P --id ID\nExit 1 when there is no such item file.",
         "  cvcal item delete --mailbox anna --postoffice example --id review-1",
         {kMailbox, kPostoffice, kId},
         ItemDelete},
        {"freebusy",
         "the days of a month that have appointments of their own",
         "  --mailbox M --postoffice P --month YYYY-MM\n"
         "Days come from the day-level period files (named by local dates); appointments\n"
         "spanning days are not counted. Always read from the local store, never remotely.",
         "  cvcal freebusy --mailbox anna --postoffice example --month 2026-12\n"
         "  cvcal --json freebusy --mailbox anna --postoffice example --month 2026-12",
         {kMailbox, kPostoffice, {"month", true}},
         FreeBusy},
    };
}

}  // namespace cvcal
