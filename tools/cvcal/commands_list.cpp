// list: the list enumeration, the appointments of a time range as rows or as their XML elements.
#include <cstring>
#include <string>

#include "common/file_helpers.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/time_text.h"

namespace cvcal {
namespace {

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

int List(Context& context, const CommandLine& line) {
    ListContext request;
    std::memset(&request, 0, sizeof request);
    CopyField(request.Mailbox, sizeof request.Mailbox, line.Required("mailbox"), "mailbox");
    CopyField(request.Postoffice, sizeof request.Postoffice, line.Required("postoffice"),
              "postoffice");
    request.RangeStart = line.Time("from");
    request.RangeEnd = line.Time("to");
    if (request.RangeEnd < request.RangeStart) throw UsageError("--to: before --from");
    if (line.Has("xsl")) {
        std::string sheet;
        if (!cv::ReadWholeFile(line.Required("xsl").c_str(), &sheet)) {
            throw UsageError("--xsl: cannot read " + line.Required("xsl"));
        }
        CopyField(request.Stylesheet, sizeof request.Stylesheet, sheet, "xsl");
    }
    bool xml = line.Has("xml");
    std::vector<Output::Fields> rows;
    ListItem item;
    std::memset(&item, 0, sizeof item);
    for (int32_t found = context.library.list_find_first(&request, &item); found;
         found = context.library.list_find_next(&request, &item)) {
        std::string element(item.ItemXml, item.ItemXmlLength);
        if (xml) {
            rows.push_back({{"id", Output::Text(item.ItemId)}, {"xml", Output::Text(element)}});
            continue;
        }
        rows.push_back({{"start", Output::Text(LocalTimeText(item.StartTime))},
                        {"end", Output::Text(LocalTimeText(item.FinishTime))},
                        {"id", Output::Text(item.ItemId)},
                        {"subject", Output::Text(ChildText(element, "SUBJECT"))},
                        {"location", Output::Text(ChildText(element, "LOCATION"))}});
    }
    context.library.list_find_close(&request);
    context.output.Field("count", Output::Number(static_cast<int64_t>(rows.size())));
    if (xml && !context.json) {
        for (const auto& row : rows) context.output.Say(row[1].second.text);
        return kExitOk;
    }
    context.output.Rows("appointments", std::move(rows));
    return kExitOk;
}

}  // namespace

std::vector<Command> ListCommands() {
    return {
        {"list",
         "the appointments of a time range, with their properties",
         "  --mailbox M --postoffice P --from T --to T [--xsl FILE] [--xml]\n"
         "Reads the period files of the day --from falls on (local time) and lists the\n"
         "appointments that lie wholly between --from and --to. --xsl applies a stylesheet to the\n"
         "index before listing (to sort or filter it); --xml shows each item's XML element.",
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
