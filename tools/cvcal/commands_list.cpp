// list: the list enumeration, the appointments of a time range as rows or as their XML elements.
#include <unistd.h>  // isatty, in the C runtime of both builds

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "common/file_helpers.h"
#include "index/stylesheet_policy.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {
namespace {

struct Row {
    int32_t start;
    Output::Fields fields;
};

// The text of a child element of an index element, with XML's five escapes undone. The elements
// the scan builds are flat (one text per child), so a plain search is enough.
std::string ChildText(const std::string& xml, const std::string& name) {
    std::string open = "<" + name + ">";
    std::string::size_type start = xml.find(open);
    if (start == std::string::npos) return "";
    start += open.size();
    std::string::size_type end = xml.find("</" + name + ">", start);
    if (end == std::string::npos) return "";
    std::string text = xml.substr(start, end - start);
    static const struct {
        const char* escape;
        char plain;
    } kEscapes[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    for (const auto& e : kEscapes) {
        for (std::string::size_type at = text.find(e.escape); at != std::string::npos;
             at = text.find(e.escape, at + 1)) {
            text.replace(at, std::strlen(e.escape), 1, e.plain);
        }
    }
    return text;
}

// The appointments the list export gives for one call, added to rows unless already there (the
// year and month periods are read again for every day).
// A text an item may lack: null in JSON when it is empty, as every value that is not set.
Output::Value TextOrNull(const std::string& text) {
    return text.empty() ? Output::Null("") : Output::Text(text);
}

void ListOnce(Context& context, ListContext* request, bool xml, std::set<std::string>* seen,
              std::vector<Row>* rows) {
    ListItem item;
    std::memset(&item, 0, sizeof item);
    for (int32_t found = context.library.AppointmentListItemFindFirst(request, &item); found;
         found = context.library.AppointmentListItemFindNext(request, &item)) {
        std::string key = std::to_string(item.StartTime) + "\t" + std::to_string(item.FinishTime) +
                          "\t" + item.ItemId;
        if (!seen->insert(key).second) continue;
        std::string element(item.ItemXml, item.ItemXmlLength);
        Row row{item.StartTime, {}};
        if (xml) {
            row.fields = {{"id", Output::Text(item.ItemId)}, {"xml", Output::Text(element)}};
        } else {
            row.fields = {{"start", Output::Time(item.StartTime)},
                          {"end", Output::Time(item.FinishTime)},
                          {"id", Output::Text(item.ItemId)},
                          {"subject", TextOrNull(ChildText(element, "SUBJECT"))},
                          {"location", TextOrNull(ChildText(element, "LOCATION"))}};
        }
        rows->push_back(std::move(row));
    }
    context.library.AppointmentListItemFindClose(request);
}

// A progress bar on standard error, for a person waiting at a terminal on a long range.
class Progress {
  public:
    explicit Progress(int64_t total) : shown_(total > 62 && isatty(2)), total_(total) {}
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", 50, "");
    }
    void Step(int64_t done) {
        if (!shown_) return;
        int filled = static_cast<int>(30 * done / total_);
        std::fprintf(stderr, "\rlisting [%-30s] %lld/%lld days", std::string(filled, '#').c_str(),
                     static_cast<long long>(done), static_cast<long long>(total_));
        std::fflush(stderr);
    }

  private:
    bool shown_;
    int64_t total_;
};

int List(Context& context, const CommandLine& line) {
    ListContext request;
    std::memset(&request, 0, sizeof request);
    CopyField(request.Mailbox, sizeof request.Mailbox, line.Required("mailbox"), "mailbox");
    CopyField(request.Postoffice, sizeof request.Postoffice, line.Required("postoffice"),
              "postoffice");
    const int32_t from = line.Time("from");
    const int32_t to = line.Time("to", DayPart::kEnd);
    if (to < from) throw UsageError("--to: before --from");
    if (line.Has("xsl")) {
        std::string sheet;
        if (!cv::ReadWholeFile(line.Required("xsl").c_str(), &sheet)) {
            throw UsageError("--xsl: cannot read " + line.Required("xsl"));
        }
        CopyField(request.Stylesheet, sizeof request.Stylesheet, sheet, "xsl");
        // The library refuses such a stylesheet with an empty listing; here the user learns why.
        cv::XmlDocument checked;
        std::string why;
        if (!cv::LoadConfinedStylesheet(request.Stylesheet, &checked, &why)) {
            throw UsageError("--xsl: " + line.Required("xsl") + " is refused: " + why +
                             "; a stylesheet may only sort, filter and reshape the listing");
        }
    }
    bool xml = line.Has("xml");
    CheckReach(context, line, Access::kRead);
    // The export reads the periods of the day its range starts on: every day is asked in turn.
    std::vector<int32_t> days;
    for (int32_t day = LocalDayStart(from); day <= to && day != INT32_MAX;
         day = LocalDayStart(day, 1)) {
        days.push_back(day);
    }
    std::set<std::string> seen;
    std::vector<Row> rows;
    Progress progress(static_cast<int64_t>(days.size()));
    for (size_t i = 0; i < days.size(); ++i) {
        request.RangeStart = std::max(from, days[i]);
        request.RangeEnd = to;
        ListOnce(context, &request, xml, &seen, &rows);
        progress.Step(static_cast<int64_t>(i + 1));
    }
    // Days in order; a stylesheet's order is kept within each day.
    if (!line.Has("xsl")) {
        std::stable_sort(rows.begin(), rows.end(),
                         [](const Row& a, const Row& b) { return a.start < b.start; });
    }
    if (rows.empty()) ExplainRemoteFailure(context);
    context.output.Field("count", Output::Number(static_cast<int64_t>(rows.size())));
    context.output.Field("days", Output::Number(static_cast<int64_t>(days.size())));
    std::vector<Output::Fields> fields;
    for (Row& row : rows) fields.push_back(std::move(row.fields));
    if (xml && !context.json) {
        for (const auto& row : fields) context.output.Say(row[1].second.text);
        return kExitOk;
    }
    context.output.Rows("appointments", std::move(fields));
    return kExitOk;
}

}  // namespace

std::vector<Command> ListCommands() {
    return {
        {"list",
         "the appointments of a time range, with their properties",
         "  --mailbox M --postoffice P --from T --to T [--xsl FILE] [--xml]\n"
         "Lists the appointments that lie wholly between --from and --to, reading the period\n"
         "files of every local day from the one --from falls on to the one --to falls on. A --to\n"
         "without a time of day means the end of that day (--from today --to +7d: a week).\n"
         "--xsl applies a stylesheet to the index before listing (to sort or filter it; its\n"
         "order holds within each day; it may not read files or documents, include others, hold\n"
         "script or declare a DTD); --xml shows each item's XML element.",
         "  cvcal list --mailbox anna --postoffice example --from today --to +7d\n"
         "  cvcal --json list --mailbox anna --postoffice example --from 2026-12-01 --to "
         "2026-12-31\n"
         "  cvcal list --mailbox anna --postoffice example --from today --to +30d --xsl "
         "by-subject.xsl --xml",
         {{"mailbox", true},
          {"postoffice", true},
          {"from", true},
          {"to", true},
          {"xsl", true},
          {"xml", false}},
         List},
    };
}

}  // namespace cvcal
