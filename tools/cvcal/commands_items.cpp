// item get|put|size|delete and freebusy: the item and free/busy exports.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <sstream>

#include "common/file_helpers.h"
#include "common/host_files.h"
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
    std::string bytes;
    if (!ReadItem(context.library, ItemRecord(line, id), &bytes)) {
        context.output.Field("result", Output::Number(0));
        context.output.Say("no item file " + id);
        return kExitRefused;
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
    bool whole = WriteItem(context.library, ItemRecord(line, id), text);
    context.output.Field("result", Output::Number(whole ? 1 : 0));
    context.output.Field("id", Output::Text(id));
    context.output.Field("bytes", Output::Number(static_cast<int64_t>(text.size())));
    if (!whole) {
        context.output.Say("the item file was not written in full (is the mailbox there?)");
        return kExitRefused;
    }
    return kExitOk;
}

int ItemSize(Context& context, const CommandLine& line) {
    AppointmentItemRequest record = ItemRecord(line, line.Required("id"));
    context.library.item_get_size(&record);
    context.output.Field("id", Output::Text(line.Required("id")));
    context.output.Field("bytes", Output::Number(record.DataLength));
    return kExitOk;
}

int ItemDelete(Context& context, const CommandLine& line) {
    AppointmentItemRequest record = ItemRecord(line, line.Required("id"));
    context.library.item_delete(&record);
    context.output.Field("deleted", Output::Text(line.Required("id")));
    return kExitOk;
}

int FreeBusy(Context& context, const CommandLine& line) {
    const std::string& month = line.Required("month");
    int year = 0, number = 0;
    char tail = 0;
    if (std::sscanf(month.c_str(), "%4d-%2d%c", &year, &number, &tail) != 2 || year < 1901 ||
        year > 2038 || number < 1 || number > 12) {
        throw UsageError("--month: expected YYYY-MM");
    }
    FreeBusyRequest request;
    std::memset(&request, 0, sizeof request);
    CopyField(request.Mailbox, sizeof request.Mailbox, line.Required("mailbox"), "mailbox");
    CopyField(request.Postoffice, sizeof request.Postoffice, line.Required("postoffice"),
              "postoffice");
    std::snprintf(request.NamePrefix, sizeof request.NamePrefix, "Y%02dM%02d", year - 2000, number);
    context.library.free_busy(&request);
    // The library answers in directory order; people read days in order.
    std::vector<std::string> days;
    std::stringstream list(request.BusyDays);
    for (std::string day; std::getline(list, day, ',');) {
        if (!day.empty()) days.push_back(day);
    }
    std::sort(days.begin(), days.end());
    std::string joined;
    for (const std::string& day : days) joined += (joined.empty() ? "" : ",") + day;
    context.output.Field("month", Output::Text(month));
    context.output.Field("period_prefix", Output::Text(request.NamePrefix));
    context.output.Field("busy_days", Output::Text(joined));
    context.output.Field("count", Output::Number(static_cast<int64_t>(days.size())));
    return kExitOk;
}

}  // namespace

std::vector<Command> ItemCommands() {
    return {
        {"item get",
         "print an item file (or write it to --file)",
         "  --mailbox M --postoffice P --id ID [--file F]",
         {kMailbox, kPostoffice, kId, kFile},
         ItemGet},
        {"item put",
         "write an item file from --file (or standard input)",
         "  --mailbox M --postoffice P --id ID [--file F]",
         {kMailbox, kPostoffice, kId, kFile},
         ItemPut},
        {"item size",
         "the size of an item file in bytes (0 when missing)",
         "  --mailbox M --postoffice P --id ID",
         {kMailbox, kPostoffice, kId},
         ItemSize},
        {"item delete",
         "delete an item file",
         "  --mailbox M --postoffice P --id ID",
         {kMailbox, kPostoffice, kId},
         ItemDelete},
        {"freebusy",
         "the days of a month that have appointments of their own",
         "  --mailbox M --postoffice P --month YYYY-MM\n"
         "Days come from the day-level period files; appointments spanning days are not counted.",
         {kMailbox, kPostoffice, {"month", true}},
         FreeBusy},
    };
}

}  // namespace cvcal
