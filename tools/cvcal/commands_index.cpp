// props get|set|list, reindex and index show: the calendar folder's index as the store layer
// opens and edits it. The library exports none of this, so these commands run the core's index
// code in cvcal itself, against the store that the configuration names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/civil_time.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "index/calendar_scan.h"
#include "index_api/calendar_folder_index.h"
#include "index_api/index_file.h"
#include "index_api/property_map.h"
#include "store/calendar_paths.h"
#include "store/store_state.h"
#include "tools/cvcal/command_line.h"
#include "tools/cvcal/item_io.h"
#include "tools/cvcal/store_check.h"
#include "tools/cvcal/time_text.h"
#include "tools/cvcal/xml_indent.h"

namespace cvcal {
namespace {

const OptionSpec kMailbox{"mailbox", true};
const OptionSpec kPostoffice{"postoffice", true};
const OptionSpec kId{"id", true};
const OptionSpec kName{"name", true};

constexpr int64_t kTicksPerSecond = 10000000;

// The store layer's index entry points work on the store state the library keeps: cvcal starts it
// for the configured store (the mail root is read now, after --registry took effect) for the
// command's duration.
class AttachedStore {
  public:
    AttachedStore() {
        if (!cv::StartStoreState()) throw UsageError("cannot attach to the store");
        if (cv::MailRoot()[0] == '\0') {
            cv::EndStoreState();
            ConfiguredMailRoot();  // names the cause
            throw Failure(kExitConfig, "no mail root configured (cvcal config set-root DIR)");
        }
    }
    ~AttachedStore() { cv::EndStoreState(); }
    AttachedStore(const AttachedStore&) = delete;
    AttachedStore& operator=(const AttachedStore&) = delete;
};

cv::StoreIndex* g_kept_to_the_end = nullptr;  // see FolderIndex::KeepToTheEnd

// A calendar folder's index record, released when the command ends.
struct FolderIndex {
    FolderIndex() : record(std::make_unique<cv::StoreIndex>()) {}
    ~FolderIndex() {
        if (record) cv::StoreIndex_Close(record.get());
    }
    // Leaves the record to the end of the process. A command that ends with the index open need
    // not free it: a mailbox's index is hundreds of thousands of nodes, each freed on its own,
    // and the system takes the whole heap back at once. (Kept where a pointer still reaches it,
    // so that a leak checker does not take it for lost.)
    void KeepToTheEnd() { g_kept_to_the_end = record.release(); }
    std::unique_ptr<cv::StoreIndex> record;
};

// Names the mailbox's Calendar folder in the record; refuses names that are not single folder
// names and mailboxes that are not there.
bool NameCalendar(Context&, const CommandLine& line, cv::StoreIndex* index) {
    const std::string& mailbox = line.Required("mailbox");
    const std::string& postoffice = line.Required("postoffice");
    for (const std::string* name : {&mailbox, &postoffice}) {
        if (name->size() >= cv::kIndexTextSize) {
            throw UsageError("--" + std::string(name == &mailbox ? "mailbox" : "postoffice") +
                             ": longer than " + std::to_string(cv::kIndexTextSize - 1));
        }
    }
    // Opening an index may rebuild and save it, and consumes the dirty markers: a write.
    CheckMailbox(postoffice, mailbox, Access::kWrite);
    std::strcpy(index->PostofficeName, postoffice.c_str());
    std::strcpy(index->MailboxName, mailbox.c_str());
    std::strcpy(index->FolderName, "Calendar");
    return true;
}

const char* OpeningName(cv::CalendarIndexOpening opening) {
    switch (opening) {
        case cv::CalendarIndexOpening::kReused:
            return "reused";
        case cv::CalendarIndexOpening::kRebuilt:
            return "rebuilt";
        case cv::CalendarIndexOpening::kLoaded:
            return "loaded";
        default:
            return "none";
    }
}

// Opens the calendar folder's index by the store's rule; false (and said why) when there is none.
bool OpenIndex(Context& context, const CommandLine& line, cv::StoreIndex* index,
               cv::CalendarIndexOpenReport* report,
               cv::CalendarIndexUse use = cv::CalendarIndexUse::kDocument) {
    if (!NameCalendar(context, line, index)) return false;
    if (cv::OpenCalendarFolderIndex(index, false, report, use) == nullptr) {
        throw Failure(kExitRefused, "the calendar index could not be opened");
    }
    return true;
}

// "2026-12-07T09:00:00Z" for seconds since 1970, whatever the year.
std::string UtcIsoText(int64_t seconds) {
    cv::CivilTime t = cv::UtcCivilTime(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ",
                  static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

bool WholeNumber(const std::string& text, long long* number) {
    if (text.empty()) return false;
    char* end = nullptr;
    *number = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' && text.find_first_of(" \t") == std::string::npos;
}

// The user's text as a value of the property's type.
std::vector<unsigned char> ValueFromText(uint32_t type, const std::string& text) {
    long long number = 0;
    std::vector<unsigned char> value;
    switch (type) {
        case cv::kValueInteger:
        case cv::kValueBoolean: {
            bool fits = WholeNumber(text, &number) &&
                        (type == cv::kValueInteger ? number >= INT32_MIN && number <= INT32_MAX
                                                   : number == 0 || number == 1);
            if (!fits) {
                throw UsageError(type == cv::kValueInteger ? "--value: expected a 32-bit integer"
                                                           : "--value: expected 0 or 1");
            }
            int32_t small = static_cast<int32_t>(number);
            value.resize(sizeof small);
            std::memcpy(value.data(), &small, sizeof small);
            return value;
        }
        case cv::kValueFileTime: {
            // Seconds (any sign, any year a FILETIME holds) or an ISO time.
            if (!WholeNumber(text, &number)) {
                int32_t seconds = 0;
                std::string reason;
                if (!ParseTimeArgument(text, &seconds, &reason)) {
                    throw UsageError("--value: " + reason);
                }
                number = seconds;
            }
            if (number < -11644473600LL || number > 900000000000LL) {
                throw UsageError("--value: outside the FILETIME range");
            }
            return cv::FileTimeBytes(static_cast<cv::FileTime>(number * kTicksPerSecond) +
                                     cv::kFileTimeUnixEpoch);
        }
        default:
            value.assign(text.begin(), text.end());
            value.push_back('\0');
            return value;
    }
}

// A value of the property's type as fields.
void ShowValue(Context& context, uint32_t type, const std::vector<unsigned char>& value) {
    int32_t small = 0;
    switch (type) {
        case cv::kValueInteger:
        case cv::kValueBoolean:
            std::memcpy(&small, value.data(), sizeof small);
            context.output.Field("value", Output::Number(small));
            return;
        case cv::kValueFileTime: {
            cv::FileTime time = cv::FileTimeFromBytes(value.data());
            int64_t seconds = static_cast<int64_t>(time - cv::kFileTimeUnixEpoch) / kTicksPerSecond;
            context.output.Field("value", Output::Text(UtcIsoText(seconds)));
            context.output.Field("seconds", Output::Number(seconds));
            context.output.Field("filetime", Output::Text(std::to_string(time)));
            return;
        }
        default:
            context.output.Field(
                "value", Output::Text(std::string(reinterpret_cast<const char*>(value.data()))));
    }
}

// The descriptor of --name; false (and said) for a name the map does not know.
bool Describe(Context&, const CommandLine& line, cv::IndexFieldDescriptor* field) {
    if (cv::LookupCalendarProperty(line.Required("name").c_str(), field)) return true;
    throw Failure(kExitRefused,
                  "unknown property name " + line.Required("name") + " (see cvcal props list)");
}

void Describe(Context& context, const cv::IndexFieldDescriptor& field) {
    context.output.Field("element", Output::Text(field.ElementName));
    context.output.Field("type", Output::Text(cv::PropertyValueTypeName(field.PropertyType)));
    context.output.Field("source",
                         Output::Text(field.Source == cv::kSourceItemFile ? "item file" : "index"));
}

// The item's entry in the opened index; false (and said) when there is none.
bool FindItem(Context&, const cv::StoreIndex& index, const std::string& id,
              cv::IndexNodeSlot* item) {
    if (cv::FindIndexItem(index, id.c_str(), item)) return true;
    throw Failure(kExitRefused, "not found: no index entry for " + id);
}

// The calendar folder's index, opened by the rule, and the entry of the item --id names.
// Sets one header of the item file of --id in the local Calendar folder.
bool SetItemHeader(const CommandLine& line, const char* header, const std::string& value) {
    char path[cv::kPathSize];
    std::string item;
    if (!cv::CalendarFilePath(path, sizeof path, line.Required("postoffice").c_str(),
                              line.Required("mailbox").c_str(), line.Required("id").c_str()) ||
        !cv::ReadWholeFile(path, &item)) {
        return false;
    }
    return cv::WriteWholeFile(path, WithHeader(item, header, value));
}

bool OpenItem(Context& context, const CommandLine& line, FolderIndex* index,
              cv::IndexNodeSlot* item) {
    cv::CalendarIndexOpenReport report;
    return OpenIndex(context, line, index->record.get(), &report) &&
           FindItem(context, *index->record, line.Required("id"), item);
}

int PropsGet(Context& context, const CommandLine& line) {
    AttachedStore store;
    cv::IndexFieldDescriptor field;
    if (!Describe(context, line, &field)) return kExitRefused;
    FolderIndex index;
    cv::IndexNodeSlot item;
    const std::string& id = line.Required("id");
    if (!OpenItem(context, line, &index, &item)) return kExitRefused;
    std::vector<unsigned char> value;
    int result =
        cv::GetCalendarProperty(*index.record, item, line.Required("name").c_str(), &value);
    context.output.Field("result", Output::Number(result));
    context.output.Field("id", Output::Text(id));
    Describe(context, field);
    if (result != 2) {
        throw Failure(kExitRefused, "no value for " + line.Required("name"));
    }
    ShowValue(context, field.PropertyType, value);
    return kExitOk;
}

int PropsSet(Context& context, const CommandLine& line) {
    AttachedStore store;
    std::string text;
    if (line.Has("file") == line.Has("value")) throw UsageError("--value: give --value or --file");
    if (line.Has("file") && !cv::ReadWholeFile(line.Required("file").c_str(), &text)) {
        throw UsageError("--file: cannot read " + line.Required("file"));
    }
    if (line.Has("value")) text = line.Required("value");
    cv::IndexFieldDescriptor field;
    if (!Describe(context, line, &field)) return kExitRefused;
    std::vector<unsigned char> value = ValueFromText(field.PropertyType, text);

    FolderIndex index;
    cv::IndexNodeSlot item;
    const std::string& id = line.Required("id");
    if (!OpenItem(context, line, &index, &item)) return kExitRefused;
    int result = cv::SetCalendarProperty(index.record.get(), &item, line.Required("name").c_str(),
                                         value.data(), value.size());
    context.output.Field("result", Output::Number(result));
    context.output.Field("id", Output::Text(id));
    Describe(context, field);
    if (result != 1) {
        throw Failure(kExitRefused, field.Source == cv::kSourceItemFile
                                        ? "the item file was not changed"
                                        : "the index entry was not changed");
    }
    if (field.Source == cv::kSourceIndex) {
        // What the index holds now, in its own form.
        std::string stored;
        if (field.ElementName[0] == '@') {
            item.IndexNode.Attribute(field.ElementName + 1, &stored);
        } else if (field.ElementName[0] == '!') {
            stored = std::to_string(item.ClassNumber()) + " (not saved: kept beside the XML)";
        } else {
            item.IndexNode.ChildElementText(field.ElementName, &stored);
        }
        context.output.Field("index_text", Output::Text(stored));
        int saved = cv::StoreIndex_Save(index.record.get());
        context.output.Field("saved", Output::Bool(saved != 0));
        if (!saved) return kExitRefused;
        // The list reads the item's headers afresh: the header that feeds the element gets the
        // value too, as the mail server's hosts keep them.
        if (const char* header = cv::ItemHeaderOf(field.ElementName)) {
            if (!SetItemHeader(line, header, stored)) {
                context.output.Say(std::string("warning: the item file's ") + header +
                                   " header could not be changed");
            }
        }
    }
    return kExitOk;
}

int PropsList(Context& context, const CommandLine&) {
    std::vector<Output::Fields> rows;
    for (const cv::PropertyMapRow& row : cv::PropertyMapRows()) {
        rows.push_back({
            {"name", Output::Text(row.name)},
            {"element", Output::Text(row.element)},
            {"type", Output::Text(cv::PropertyValueTypeName(row.property_type))},
            {"index_type", Output::Text(cv::PropertyValueTypeName(row.index_type))},
            {"source", Output::Text(row.source == cv::kSourceItemFile ? "item file" : "index")},
        });
    }
    context.output.Rows("properties", rows);
    return kExitOk;
}

int32_t CountItems(const cv::XmlDocument& document) {
    cv::XmlNode root, child;
    if (!document.DocumentElement(&root)) return 0;
    int32_t items = 0;
    for (bool more = root.FirstChild(&child); more; more = child.NextSibling(&child)) {
        if (child.Type() == cv::XmlNodeType::kElement) ++items;
    }
    return items;
}

int Reindex(Context& context, const CommandLine& line) {
    AttachedStore store;
    FolderIndex index;
    cv::CalendarIndexOpenReport report;
    // Only the file is wanted: a rebuild writes it as it scans, where it can, instead of
    // building the document of a whole calendar to save it once.
    if (!OpenIndex(context, line, index.record.get(), &report, cv::CalendarIndexUse::kFile)) {
        return kExitRefused;
    }
    // A rebuild saves the index it made, and is clean when that worked: writing the same
    // document again would double the command's work.
    const bool saved_by_rebuild =
        report.opening == cv::CalendarIndexOpening::kRebuilt && index.record->Dirty == 0;
    int saved = saved_by_rebuild ? 1 : cv::StoreIndex_Save(index.record.get());
    context.output.Field("folder", Output::Text(ShownPath(index.record->FolderPath)));
    context.output.Field("opened", Output::Text(OpeningName(report.opening)));
    context.output.Field("dirty_markers_removed", Output::Number(report.dirty_markers));
    context.output.Field("reindex_mode", Output::Number(cv::CalendarReIndexMode()));
    context.output.Field(
        "items", Output::Number(report.written_items >= 0 ? report.written_items
                                                          : CountItems(index.record->FolderIndex)));
    context.output.Field("saved", Output::Bool(saved != 0));
    index.KeepToTheEnd();
    return saved ? kExitOk : kExitRefused;
}

int IndexShow(Context& context, const CommandLine& line) {
    AttachedStore store;
    FolderIndex index;
    cv::CalendarIndexOpenReport report;
    if (!OpenIndex(context, line, index.record.get(), &report)) return kExitRefused;
    cv::XmlNode root;
    std::string xml;
    if (index.record->FolderIndex.DocumentElement(&root)) root.Xml(&xml);
    if (context.json) {
        context.output.Field("opened", Output::Text(OpeningName(report.opening)));
        context.output.Field("items", Output::Number(CountItems(index.record->FolderIndex)));
        context.output.Field("xml", Output::Text(xml));
    } else {
        std::fputs(IndentXml(xml).c_str(), context.results);
    }
    return kExitOk;
}

}  // namespace

bool WorksOnStoreDirectly(const std::string& command) {
    return command.compare(0, 6, "props ") == 0 || command == "reindex" ||
           command.compare(0, 6, "index ") == 0;
}

std::vector<Command> IndexCommands() {
    return {
        {"props get",
         "read an item's property through the calendar index",
         "  --mailbox M --postoffice P --id ID --name PR_NAME\n"
         "Names in any letter case (see cvcal props list). PR_BODY and PR_BNP_vCalendar come from\n"
         "the item file (the text/plain and text/calendar parts of a multipart item). FILETIME\n"
         "values are shown as UTC time, seconds since 1970 and FILETIME ticks.\n"
         "Exit status 1 for an unknown name, a missing entry or a value that cannot be read.",
         "  cvcal props get --mailbox anna --postoffice example --id review-1 --name PR_SUBJECT\n"
         "  cvcal props get --mailbox anna --postoffice example --id review-1 --name pr_start_date",
         {kMailbox, kPostoffice, kId, kName},
         PropsGet},
        {"props set",
         "write an item's property through the calendar index",
         "  --mailbox M --postoffice P --id ID --name PR_NAME (--value V | --file F)\n"
         "The value is text, turned into the property's type: FILETIME properties take an ISO\n"
         "time (local unless followed by Z or an offset) or seconds since 1970 (any year);\n"
         "int32 properties a decimal number; booleans 0 or 1; text properties the text as it is\n"
         "(--file F: the file's bytes). Index fields are saved into _index.xml; PR_BODY and\n"
         "PR_BNP_vCalendar are written into the item file, which is replaced whole or not at all.\n"
         "CV_ITEM_CLASS lives beside the XML and is not saved.",
         "  cvcal props set --mailbox anna --postoffice example --id review-1 --name PR_LOCATION "
         "--value \"Room 5\"\n"
         "  cvcal props set --mailbox anna --postoffice example --id review-1 --name PR_BODY "
         "--file body.txt",
         {kMailbox, kPostoffice, kId, kName, {"value", true}, {"file", true}},
         PropsSet},
        {"props list",
         "the known property names: element, types and source",
         "",
         "  cvcal props list\n"
         "  cvcal --json props list",
         {},
         PropsList},
        {"reindex",
         "open a mailbox's calendar index as the store layer does, and save it",
         "  --mailbox M --postoffice P\n"
         "Says whether the index was rebuilt or loaded. The index is opened as the store layer\n"
         "opens it: the folder's dirty markers (_*.DTY) are deleted, and it is rebuilt from the\n"
         "period files when _index.xml is missing, or when a marker was there and the registry\n"
         "value \"Calendar ReIndex Mode\" is not 0; otherwise _index.xml is loaded.",
         "  cvcal reindex --mailbox anna --postoffice example",
         {kMailbox, kPostoffice},
         Reindex},
        {"index show",
         "print a mailbox's calendar index as XML",
         "  --mailbox M --postoffice P\n"
         "The index is opened as reindex opens it (dirty markers are consumed, and a missing "
         "index\n"
         "is rebuilt), but not saved again.",
         "  cvcal index show --mailbox anna --postoffice example",
         {kMailbox, kPostoffice},
         IndexShow},
    };
}

}  // namespace cvcal
