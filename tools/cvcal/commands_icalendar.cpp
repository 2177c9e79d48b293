// import, export and roll: iCalendar files in and out of a mailbox's calendar, and its recurring
// objects rolled forward, through the iCalendar engine (icalendar/engine.h) in the layout of
// docs/ICALENDAR.md.
#include <algorithm>
#include <iostream>
#include <iterator>

#include "common/file_helpers.h"
#include "host/host_files.h"
#include "icalendar/engine.h"
#include "icalendar/objects.h"
#include "platform/platform.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

int64_t Now() {
    return static_cast<int64_t>(cv::CurrentFileTime() / 10000000ULL) - 11644473600LL;
}

// --horizon and --back: whole days, up to a hundred years.
int Days(const CommandLine& line, const char* option, int fallback) {
    std::string text = line.Optional(option, std::to_string(fallback));
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) > cvical::kMaxWindowDays) {
        throw UsageError(std::string("--") + option + ": expected days from 0 to " +
                         std::to_string(cvical::kMaxWindowDays));
    }
    return std::stoi(text);
}

cvical::Window WindowOf(const CommandLine& line) {
    cvical::Window window;
    window.now = Now();
    window.back_days = Days(line, "back", cvical::kDefaultBackDays);
    window.horizon_days = Days(line, "horizon", cvical::kDefaultHorizonDays);
    return window;
}

// The calendar of --mailbox and --postoffice, once cvcal's own checks name what is missing.
cvical::MailboxCalendar OpenCalendar(const Context& context, const CommandLine& line,
                                     Access access) {
    CheckReach(context, line, access);
    cvical::MailboxCalendar calendar;
    std::string error;
    if (!cvical::MailboxCalendar::Open(line.Required("postoffice"), line.Required("mailbox"),
                                       &calendar, &error)) {
        throw Failure(kExitConfig, error);
    }
    return calendar;
}

int Import(Context& context, const CommandLine& line) {
    if (line.words().size() != 1)
        throw UsageError("import: expects one FILE (- for standard input)");
    const std::string& file = line.words()[0];
    const cvical::Window window = WindowOf(line);
    std::string text;
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (!cv::ReadWholeFile(file.c_str(), &text)) {
        throw UsageError(file + ": cannot read");
    }
    cvical::ParsedCalendar parsed;
    if (!cvical::ParseCalendar(text, window, &parsed)) {
        throw UsageError((file == "-" ? std::string("standard input") : file) +
                         ": not an iCalendar file (no VCALENDAR could be read)");
    }
    const cvical::MailboxCalendar calendar = OpenCalendar(context, line, Access::kWrite);
    // One walk of the periods for the whole file: each object is put once (they are by UID).
    const cvical::WalkedLines lines(calendar);
    int counts[3] = {};
    std::vector<Output::Fields> refusals;
    for (const cvical::RefusedObject& r : parsed.refused) {
        refusals.push_back({{"uid", Output::Text(r.uid)}, {"reason", Output::Text(r.reason)}});
    }
    for (const cvical::CalendarObject& object : parsed.objects) {
        cvical::PutResult result = cvical::PutObject(calendar, object, "", window, &lines);
        switch (result.outcome) {
            case cvical::PutOutcome::kAdded:
            case cvical::PutOutcome::kReplaced:
            case cvical::PutOutcome::kUnchanged:
                ++counts[static_cast<int>(result.outcome)];
                break;
            default:  // refused, or busy: not stored, to be imported again
                refusals.push_back(
                    {{"uid", Output::Text(object.uid)}, {"reason", Output::Text(result.reason)}});
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
    const cvical::MailboxCalendar calendar = OpenCalendar(context, line, Access::kRead);
    int objects = 0;
    const std::string calendar_text = cvical::ExportCalendar(calendar, from, to, &objects);
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

// The folders of a folder, sorted.
std::vector<std::string> Folders(const std::string& folder) {
    std::vector<std::string> names;
    cv::DirectorySearch search;
    cv::FindData entry;
    for (bool found =
             search.First((folder + "\\*").c_str(), &entry, cv::DirectorySearch::Detail::kName);
         found; found = search.Next(&entry)) {
        if ((entry.attributes & cv::kAttributeDirectory) && entry.name != "." &&
            entry.name != "..") {
            names.push_back(entry.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Roll(Context& context, const CommandLine& line) {
    const cvical::Window window = WindowOf(line);
    const bool all = line.Has("all");
    if (all == (line.Has("mailbox") || line.Has("postoffice"))) {
        throw UsageError("roll: expects --mailbox M --postoffice P, or --all");
    }
    // (postoffice, mailbox) of every calendar to roll.
    std::vector<std::pair<std::string, std::string>> mailboxes;
    if (all) {
        const std::string root = ConfiguredMailRoot();
        if (!cv::FolderExists(root.c_str())) {
            throw Failure(kExitConfig, "mail root not found: " + ShownPath(root));
        }
        for (const std::string& postoffice : Folders(root)) {
            const std::string boxes = root + "\\" + postoffice + "\\MAILROOT";
            for (const std::string& mailbox : Folders(boxes)) {
                // A mailbox without a Calendar folder has nothing to roll.
                if (cv::FolderExists((boxes + "\\" + mailbox + "\\Calendar").c_str())) {
                    mailboxes.emplace_back(postoffice, mailbox);
                }
            }
        }
    } else {
        CheckReach(context, line, Access::kWrite);
        mailboxes.emplace_back(line.Required("postoffice"), line.Required("mailbox"));
    }
    cvical::RollResult total;
    std::vector<Output::Fields> rows;
    for (const auto& names : mailboxes) {
        cvical::MailboxCalendar calendar;
        std::string error;
        cvical::RollResult result;
        if (!cvical::MailboxCalendar::Open(names.first, names.second, &calendar, &error)) {
            if (!all) throw Failure(kExitConfig, error);
            result.failed = 1;  // a name the store cannot use
        } else {
            result = cvical::RollCalendar(calendar, window);
        }
        total.objects += result.objects;
        total.added += result.added;
        total.removed += result.removed;
        total.busy += result.busy;
        total.failed += result.failed;
        rows.push_back({{"postoffice", Output::Text(names.first)},
                        {"mailbox", Output::Text(names.second)},
                        {"objects", Output::Number(result.objects)},
                        {"added", Output::Number(result.added)},
                        {"removed", Output::Number(result.removed)},
                        {"busy", Output::Number(result.busy)},
                        {"failed", Output::Number(result.failed)}});
    }
    context.output.Field("mailboxes", Output::Number(static_cast<int64_t>(mailboxes.size())));
    context.output.Field("objects", Output::Number(total.objects));
    context.output.Field("added", Output::Number(total.added));
    context.output.Field("removed", Output::Number(total.removed));
    context.output.Field("busy", Output::Number(total.busy));
    context.output.Field("failed", Output::Number(total.failed));
    context.output.Rows("calendars", std::move(rows));
    return total.busy + total.failed > 0 ? kExitRefused : kExitOk;
}

}  // namespace

std::vector<Command> ICalendarCommands() {
    const OptionSpec mailbox{"mailbox", true}, postoffice{"postoffice", true};
    const OptionSpec horizon{"horizon", true}, back{"back", true};
    return {
        {"import",
         "store the events of an iCalendar file",
         "  FILE --mailbox M --postoffice P [--back DAYS] [--horizon DAYS]\n"
         "Each object (the VEVENTs of one UID) becomes appointments with item files: its first\n"
         "instance, and those from --back days before today to --horizon days after (365 each by\n"
         "default, at most 2000 occurrences); `cvcal roll` moves them on as time passes. An "
         "object\n"
         "that is there already is replaced, or left as it is when its text has not changed.\n"
         "FILE - reads standard input. Exit 1 when an object was refused (no UID, no DTSTART,\n"
         "times beyond 2038, an id in use by another appointment, a period busy too long). The\n"
         "local store only.",
         "  cvcal import meetings.ics --mailbox anna --postoffice example\n"
         "  cvcal import - --mailbox anna --postoffice example --back 30 --horizon 730 < "
         "meetings.ics",
         {mailbox, postoffice, horizon, back},
         Import},
        {"export",
         "write the calendar as one iCalendar file",
         "  --mailbox M --postoffice P [--from T] [--to T] [--output FILE]\n"
         "Every object that meets the range (default: all), once each: stored objects as they\n"
         "were imported (a recurring one when any of its instances may lie in the range, stored\n"
         "or not), other appointments as VEVENTs made from their lines and item files. To\n"
         "standard output unless --output is given. The local store only.",
         "  cvcal export --mailbox anna --postoffice example --from today --to +30d --output "
         "anna.ics\n"
         "  cvcal export --mailbox anna --postoffice example > anna.ics",
         {mailbox, postoffice, {"from", true}, {"to", true}, {"output", true}},
         Export},
        {"roll",
         "move recurring objects' occurrences on to the window around today",
         "  (--mailbox M --postoffice P | --all) [--back DAYS] [--horizon DAYS]\n"
         "Adds the occurrences that have come within --horizon days (365 by default) and removes\n"
         "those now more than --back days (365) past, for every recurring object of the calendar,\n"
         "or of every mailbox of the mail root with --all. A second roll on the same day changes\n"
         "nothing. Run it daily (see README). Exit 1 when an object could not be rolled (a period\n"
         "busy, a file that could not be read or written); a later roll tries again. The local\n"
         "store only.",
         "  cvcal roll --all\n"
         "  cvcal roll --mailbox anna --postoffice example --horizon 730",
         {mailbox, postoffice, horizon, back, {"all", false}},
         Roll},
    };
}

}  // namespace cvcal
