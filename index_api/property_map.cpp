#include "index_api/property_map.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "common/diagnostics.h"
#include "common/text_helpers.h"
#include "index_api/item_properties.h"

namespace cv {
namespace {

constexpr const char kNoConversion[] = "No Conversion Available";

constexpr size_t kTextValueSize = 1024;

// Item names that every folder's items have; searched first.
constexpr PropertyMapRow kGenericRows[] = {
    {"CV_ITEM_ID", "@ID", kValueAnyText, kValueAnyText, kSourceIndex},
    {"CV_ITEM_CLASS", "!CLASS", kValueInteger, kValueText, kSourceIndex},
    {"CV_ITEM_MODIFIEDDATE", "MODIFIEDDATE", kValueInteger, kValueText, kSourceIndex},
};

// The calendar's names, in search order. Two names share STARTIME (one T, as the scan writes it)
// and two share FINISHTIME.
constexpr PropertyMapRow kCalendarRows[] = {
    {"PR_SUBJECT", "SUBJECT", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_SENSITIVITY", "SENSITIVITY", kValueInteger, kValueText, kSourceIndex},
    {"PR_SENT_REPRESENTING_NAME", "SENDERNAME", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_SENT_REPRESENTING_EMAIL_ADDRESS", "SENDERADDRESS", kValueAnyText, kValueAnyText,
     kSourceIndex},
    {"PR_START_DATE", "STARTIME", kValueFileTime, kValueSeconds, kSourceIndex},
    {"PR_BNP_Start", "STARTIME", kValueFileTime, kValueSeconds, kSourceIndex},
    {"PR_BNP_End", "FINISHTIME", kValueFileTime, kValueSeconds, kSourceIndex},
    {"PR_END_DATE", "FINISHTIME", kValueFileTime, kValueSeconds, kSourceIndex},
    {"PR_LOCATION", "LOCATION", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_BNP_AllDayEvent", "ALLDAYEVENT", kValueBoolean, kValueText, kSourceIndex},
    {"PR_BNP_ReminderSet", "REMINDERSET", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_ReminderMinutesBeforeStart", "REMINDERMINUTESBEFORESTART", kValueInteger, kValueText,
     kSourceIndex},
    {"PR_BNP_Importance", "IMPORTANCE", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_BusyStatus", "BUSYSTATUS", kValueInteger, kValueText, kSourceIndex},
    {"PR_ATTENDEES", "ATTENDEES", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_BNP_AppointmentUID", "APPOINTMENTUID", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_OPTIONAL_ATTENDEES", "OPTIONALATTENDEES", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_RESOURCES", "RESOURCES", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_CLASS", "CLASS", kValueAnyText, kValueAnyText, kSourceIndex},
    {"PR_BNP_IsRecurring", "ISRECURRING", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_RecurrenceType", "RECURRENCETYPE", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_RecurrenceState", "RECURRENCESTATE", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_RecurrenceInstance", "RECURRENCEINSTANCE", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_RecurrenceInterval", "RECURRENCEINTERVAL", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_Occurrences", "OCCURRENCES", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_PatternStartDate", "PATTERNSTARTDATE", kValueFileTime, kValueSeconds, kSourceIndex},
    {"PR_BNP_PatternEndDate", "PATTERNENDDATE", kValueFileTime, kValueSeconds, kSourceIndex},
    {"PR_BNP_NoEndDate", "NOENDDATE", kValueInteger, kValueText, kSourceIndex},
    {"PR_BNP_RecurrenceDayOfMonth", "RECURRENCEDAYOFMONTH", kValueInteger, kValueText,
     kSourceIndex},
    {"PR_BNP_RecurrenceDayOfWeekMask", "RECURRENCEDAYOFWEEKMASK", kValueInteger, kValueText,
     kSourceIndex},
    {"PR_BNP_RecurrenceMonthOfYear", "RECURRENCEMONTHOFYEAR", kValueInteger, kValueText,
     kSourceIndex},
    {"PR_BODY", "BODY", kValueAnyText, kValueAnyText, kSourceItemFile},
    {"PR_BNP_vCalendar", "VCALENDAR", kValueAnyText, kValueAnyText, kSourceItemFile},
};

constexpr int64_t kTicksPerSecond = 10000000;
// Seconds since 1970 that a FILETIME can hold: from 1601 on, and no further than its signed range.
constexpr int64_t kEarliestSeconds = -static_cast<int64_t>(kFileTimeUnixEpoch / kTicksPerSecond);
constexpr int64_t kLatestSeconds =
    (INT64_MAX - static_cast<int64_t>(kFileTimeUnixEpoch)) / kTicksPerSecond;

void FillDescriptor(const PropertyMapRow& row, IndexFieldDescriptor* field) {
    CopyBounded(field->ElementName, row.element, sizeof field->ElementName);
    field->PropertyType = row.property_type;
    field->IndexType = row.index_type;
    field->Source = row.source;
}

bool IsTextType(uint32_t type) {
    return type == kValueText || type == kValueSeconds || type == kValueAnyText;
}

// The text of a text value: up to its NUL or the end of the bytes.
std::string TextOf(const void* in, size_t size) {
    const char* text = static_cast<const char*>(in);
    const void* nul = std::memchr(text, '\0', size);
    return std::string(text, nul != nullptr ? static_cast<const char*>(nul) - text : size);
}

void PutText(const std::string& text, std::vector<unsigned char>* out) {
    out->assign(text.begin(), text.end());
    out->push_back('\0');
}

// Decimal text read as a number: leading white space, a sign, digits, up to the first other
// character; none gives 0. Kept within the given range.
int64_t ReadNumber(const std::string& text, int64_t lowest, int64_t highest) {
    long long number = std::strtoll(text.c_str(), nullptr, 10);
    if (number < lowest) return lowest;
    if (number > highest) return highest;
    return number;
}

int32_t Int32Of(const void* in) {
    int32_t number;
    std::memcpy(&number, in, sizeof number);
    return number;
}

std::vector<unsigned char> Int32Bytes(int32_t number) {
    std::vector<unsigned char> bytes(sizeof number);
    std::memcpy(bytes.data(), &number, sizeof number);
    return bytes;
}

// The value of an index field, as text.
bool ReadIndexField(const IndexNodeSlot& item, const char* element, std::string* text) {
    if (item.IndexNode.IsNull()) return false;
    if (element[0] == '@') return item.IndexNode.Attribute(element + 1, text);
    if (element[0] == '!') {
        if (std::strcmp(element, "!CLASS") != 0) return false;
        *text = std::to_string(item.ClassNumber());
        return true;
    }
    return item.IndexNode.ChildElementText(element, text);
}

// The first child element of that name.
bool FindChild(const XmlNode& parent, const char* name, XmlNode* child) {
    XmlNode node;
    for (bool more = parent.FirstChild(&node); more; more = node.NextSibling(&node)) {
        std::string node_name;
        if (node.Type() == XmlNodeType::kElement && node.Name(&node_name) && node_name == name) {
            *child = node;
            return true;
        }
    }
    return false;
}

bool WriteIndexField(XmlDocument& document, IndexNodeSlot* item, const char* element,
                     const std::string& text) {
    if (element[0] == '!') {
        if (std::strcmp(element, "!CLASS") != 0) return false;
        item->SetClassNumber(static_cast<int32_t>(ReadNumber(text, INT32_MIN, INT32_MAX)));
        return true;
    }
    if (document.IsNull() || item->IndexNode.IsNull()) return false;
    if (element[0] == '@') {
        XmlNode attribute;
        return document.CreateNode(XmlNodeType::kAttribute, element + 1, &attribute) &&
               attribute.SetText(text.c_str()) && item->IndexNode.SetAttributeNode(attribute);
    }
    XmlNode child;
    if (FindChild(item->IndexNode, element, &child)) return child.SetText(text.c_str());
    return document.CreateElement(element, &child) && child.SetText(text.c_str()) &&
           item->IndexNode.AppendChild(child);
}

}  // namespace

size_t PropertyValueSize(uint32_t type) {
    switch (type) {
        case kValueText:
        case kValueOpaque:
        case kValueDateText:
        case kValueBinary:
        case kValueSeconds:
            return kTextValueSize;
        case kValueFileTime:
        case kValueDouble:
            return 8;
        case kValueInteger:
        case kValueBoolean:
            return 4;
        case kValueAnyText:
            return kVariableValueSize;
        default:
            return 0;
    }
}

const char* PropertyValueTypeName(uint32_t type) {
    switch (type) {
        case kValueText:
            return "text";
        case kValueOpaque:
        case kValueBinary:
            return "opaque";
        case kValueFileTime:
            return "FILETIME";
        case kValueDateText:
            return "date text";
        case kValueSeconds:
            return "seconds text";
        case kValueInteger:
            return "int32";
        case kValueAnyText:
            return "text (any length)";
        case kValueDouble:
            return "double";
        case kValueBoolean:
            return "boolean";
        default:
            return "unknown";
    }
}

int LookupCalendarProperty(const char* name, IndexFieldDescriptor* field) {
    field->Source = kSourceIndex;
    if (name != nullptr) {
        for (const PropertyMapRow& row : kGenericRows) {
            if (CompareNoCase(name, row.name) == 0) {
                FillDescriptor(row, field);
                return 1;
            }
        }
    }
    field->PropertyType = kValueAnyText;
    field->IndexType = kValueAnyText;
    if (name != nullptr) {
        for (const PropertyMapRow& row : kCalendarRows) {
            if (CompareNoCase(name, row.name) == 0) {
                FillDescriptor(row, field);
                return 1;
            }
        }
    }
    field->ElementName[0] = '\0';
    return 0;
}

std::vector<PropertyMapRow> PropertyMapRows() {
    std::vector<PropertyMapRow> rows(std::begin(kGenericRows), std::end(kGenericRows));
    rows.insert(rows.end(), std::begin(kCalendarRows), std::end(kCalendarRows));
    return rows;
}

std::vector<unsigned char> FileTimeBytes(FileTime time) {
    std::vector<unsigned char> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(time >> (8 * i));
    return bytes;
}

FileTime FileTimeFromBytes(const unsigned char* bytes) {
    FileTime time = 0;
    for (int i = 7; i >= 0; --i) time = time << 8 | bytes[i];
    return time;
}

int ConvertPropertyValue(uint32_t from, uint32_t to, const void* in, size_t in_size,
                         std::vector<unsigned char>* out) {
    if (in == nullptr) return -1;
    const size_t size = PropertyValueSize(from);
    // Fixed-size values must be whole; text is read up to its NUL.
    if (!IsTextType(from) && (size == 0 || in_size < size)) return -1;

    if (from == kValueAnyText && to == kValueAnyText) {
        PutText(TextOf(in, in_size), out);
        return 2;
    }
    if (from == kValueInteger && to == kValueText) {
        PutText(std::to_string(Int32Of(in)), out);
        return 2;
    }
    if (from == kValueText && to == kValueInteger) {
        *out =
            Int32Bytes(static_cast<int32_t>(ReadNumber(TextOf(in, in_size), INT32_MIN, INT32_MAX)));
        return 2;
    }
    if (from == kValueFileTime && to == kValueSeconds) {
        // Signed, so that a time before 1970 gives negative seconds; beyond 2038 the seconds
        // are written whole, not cut to 32 bits.
        FileTime time = FileTimeFromBytes(static_cast<const unsigned char*>(in));
        int64_t ticks = static_cast<int64_t>(time - kFileTimeUnixEpoch);
        PutText(std::to_string(ticks / kTicksPerSecond), out);
        return 2;
    }
    if (from == kValueSeconds && to == kValueFileTime) {
        int64_t seconds = ReadNumber(TextOf(in, in_size), kEarliestSeconds, kLatestSeconds);
        *out = FileTimeBytes(static_cast<FileTime>(seconds * kTicksPerSecond) + kFileTimeUnixEpoch);
        return 2;
    }
    if (from == kValueBoolean && to == kValueText) {
        PutText(Int32Of(in) != 0 ? "1" : "0", out);
        return 2;
    }
    if (from == kValueText && to == kValueBoolean) {
        *out = Int32Bytes(TextOf(in, in_size) == "1" ? 1 : 0);
        return 2;
    }
    return -1;
}

int GetCalendarProperty(const StoreIndex& folder, const IndexNodeSlot& item, const char* name,
                        std::vector<unsigned char>* value) {
    IndexFieldDescriptor field;
    if (!LookupCalendarProperty(name, &field)) return -1;

    std::string text;
    if (field.Source == kSourceItemFile) {
        std::string id;
        if (item.IndexNode.IsNull() || !item.IndexNode.Attribute("ID", &id) ||
            !ReadItemFileValue(folder.FolderPath, id.c_str(), field.ElementName, &text)) {
            return -1;
        }
    } else if (!ReadIndexField(item, field.ElementName, &text)) {
        return -1;
    }
    // The index's value as its type's read buffer holds it.
    const size_t size = PropertyValueSize(field.IndexType);
    if (size != kVariableValueSize && size != 0 && text.size() >= size) text.resize(size - 1);
    std::vector<unsigned char> stored;
    PutText(text, &stored);
    return ConvertPropertyValue(field.IndexType, field.PropertyType, stored.data(), stored.size(),
                                value) == -1
               ? -1
               : 2;
}

int SetCalendarProperty(StoreIndex* folder, IndexNodeSlot* item, const char* name,
                        const void* value, size_t size) {
    IndexFieldDescriptor field;
    if (!LookupCalendarProperty(name, &field)) return -1;
    if (folder == nullptr || item == nullptr || value == nullptr) return 0;

    std::vector<unsigned char> converted;
    if (ConvertPropertyValue(field.PropertyType, field.IndexType, value, size, &converted) == -1) {
        // A value too short for its type is refused; any other lands in the index unconverted.
        const size_t type_size = PropertyValueSize(field.PropertyType);
        if (!IsTextType(field.PropertyType) && size < type_size) return 0;
        Diagnose("%s", kNoConversion);
        return WriteIndexField(folder->FolderIndex, item, field.ElementName, TextOf(value, size))
                   ? 1
                   : 0;
    }
    const std::string text = TextOf(converted.data(), converted.size());
    if (field.Source == kSourceItemFile) {
        std::string id;
        if (item->IndexNode.IsNull() || !item->IndexNode.Attribute("ID", &id)) return 0;
        return WriteItemFileValue(folder->FolderPath, id.c_str(), field.ElementName, text.c_str());
    }
    return WriteIndexField(folder->FolderIndex, item, field.ElementName, text) ? 1 : 0;
}

bool FindIndexItem(const StoreIndex& folder, const char* id, IndexNodeSlot* item) {
    XmlNode root, node;
    if (id == nullptr || folder.FolderIndex.IsNull() ||
        !folder.FolderIndex.DocumentElement(&root)) {
        return false;
    }
    for (bool more = root.FirstChild(&node); more; more = node.NextSibling(&node)) {
        std::string node_name;
        std::string node_id;
        if (node.Type() == XmlNodeType::kElement && node.Name(&node_name) &&
            node_name == "ELEMENT" && node.Attribute("ID", &node_id) &&
            CompareNoCase(node_id.c_str(), id) == 0) {
            item->IndexNode = node;
            return true;
        }
    }
    return false;
}

}  // namespace cv
