// Writes python/cvaicp/_layout.py: the records of include/cvaicp.h as the compiler lays them out
// (every field's name, kind, size and offset) and the exports of include/cvaicp_exports.h, so that
// the Python binding takes both from the headers rather than from a copy kept by hand. The test
// python_layout compares the file with this program's output.
//
//   binding_layout VERSION > python/cvaicp/_layout.py
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "include/cvaicp.h"
#include "include/cvaicp_exports.h"

namespace {

struct Field {
    const char* name;
    const char* kind;  // "text" (an 8-bit text field), "int32" or "uint32"
    size_t size;
    size_t offset;
};

template <typename Member>
constexpr const char* KindOf() {
    if constexpr (std::is_array_v<Member>) return "text";
    if constexpr (std::is_same_v<Member, uint32_t>) return "uint32";
    static_assert(std::is_array_v<Member> || std::is_same_v<Member, int32_t> ||
                      std::is_same_v<Member, uint32_t>,
                  "a record field of a kind the binding does not know");
    return "int32";
}

// clang-format takes the stringized name at the start of a braced list for a directive and
// breaks these two macros apart; they are kept as written.
// clang-format off
#define CV_FIELD(Record, Name)                                                    \
    Field {                                                                       \
        #Name, KindOf<decltype(Record::Name)>(), sizeof(Record::Name),            \
            offsetof(Record, Name)                                                \
    }
// clang-format on

struct Record {
    const char* name;
    size_t size;
    const Field* fields;
    size_t count;
};

const Field kAppointmentRequest[] = {
    CV_FIELD(AppointmentRequest, Mailbox),   CV_FIELD(AppointmentRequest, Postoffice),
    CV_FIELD(AppointmentRequest, StartTime), CV_FIELD(AppointmentRequest, FinishTime),
    CV_FIELD(AppointmentRequest, ItemId),    CV_FIELD(AppointmentRequest, PeriodName),
};
const Field kAppointmentItemRequest[] = {
    CV_FIELD(AppointmentItemRequest, Mailbox),      CV_FIELD(AppointmentItemRequest, Postoffice),
    CV_FIELD(AppointmentItemRequest, ItemFileName), CV_FIELD(AppointmentItemRequest, Data),
    CV_FIELD(AppointmentItemRequest, DataLength),
};
const Field kFreeBusyRequest[] = {
    CV_FIELD(FreeBusyRequest, Mailbox),        CV_FIELD(FreeBusyRequest, Postoffice),
    CV_FIELD(FreeBusyRequest, NamePrefix),     CV_FIELD(FreeBusyRequest, BusyDays),
    CV_FIELD(FreeBusyRequest, BusyDaysLength),
};
const Field kListContext[] = {
    CV_FIELD(ListContext, Reserved),  CV_FIELD(ListContext, RangeStart),
    CV_FIELD(ListContext, RangeEnd),  CV_FIELD(ListContext, Postoffice),
    CV_FIELD(ListContext, Mailbox),   CV_FIELD(ListContext, Stylesheet),
    CV_FIELD(ListContext, Reserved2),
};
const Field kListItem[] = {
    CV_FIELD(ListItem, Mailbox),       CV_FIELD(ListItem, Postoffice),
    CV_FIELD(ListItem, StartTime),     CV_FIELD(ListItem, FinishTime),
    CV_FIELD(ListItem, ItemId),        CV_FIELD(ListItem, ItemXml),
    CV_FIELD(ListItem, ItemXmlLength),
};

// clang-format off
#define CV_RECORD(Name) \
    Record { #Name, sizeof(Name), k##Name, sizeof k##Name / sizeof k##Name[0] }
// clang-format on
const Record kRecords[] = {
    CV_RECORD(AppointmentRequest), CV_RECORD(AppointmentItemRequest),
    CV_RECORD(FreeBusyRequest),    CV_RECORD(ListContext),
    CV_RECORD(ListItem),
};

// The name of an argument's record in the export table, as the binding knows it.
template <typename T>
const char* ArgumentName() {
    if constexpr (std::is_same_v<T, const char>) return "text";
    if constexpr (std::is_same_v<T, AppointmentRequest>) return "AppointmentRequest";
    if constexpr (std::is_same_v<T, AppointmentItemRequest>) return "AppointmentItemRequest";
    if constexpr (std::is_same_v<T, FreeBusyRequest>) return "FreeBusyRequest";
    if constexpr (std::is_same_v<T, ListContext>) return "ListContext";
    if constexpr (std::is_same_v<T, ListItem>) return "ListItem";
    return nullptr;
}

// The fields must cover each record, in order and without a gap: a field added to the header
// and not here fails the run rather than leaving the binding a record of the wrong shape.
bool Contiguous(const Record& record) {
    size_t at = 0;
    for (size_t i = 0; i < record.count; ++i) {
        if (record.fields[i].offset != at) return false;
        at += record.fields[i].size;
    }
    return at == record.size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: binding_layout VERSION\n");
        return 2;
    }
    std::printf(
        "\"\"\"The records and exports of include/cvaicp.h and include/cvaicp_exports.h, as "
        "the compiler\nsees them: written by python/binding_layout.cpp, never by hand "
        "(the test python_layout\ncompares).\"\"\"\n\n");
    std::printf("VERSION = \"%s\"\n\n", argv[1]);
    std::printf("# name: (size, [(field, kind, size, offset), ...])\nRECORDS = {\n");
    for (const Record& record : kRecords) {
        if (!Contiguous(record)) {
            std::fprintf(stderr, "binding_layout: the fields of %s do not cover it\n", record.name);
            return 1;
        }
        std::printf("    \"%s\": (%zu, [\n", record.name, record.size);
        for (size_t i = 0; i < record.count; ++i) {
            const Field& f = record.fields[i];
            std::printf("        (\"%s\", \"%s\", %zu, %zu),\n", f.name, f.kind, f.size, f.offset);
        }
        std::printf("    ]),\n");
    }
    std::printf("}\n\n# name: [argument record, ...], in ordinal order\nEXPORTS = {\n");
#define CV_EXPORT_ROW(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, Forwarded) \
    {                                                                                            \
        const char* names[2] = {ArgumentName<First>(), ArgumentName<Second>()};                  \
        std::printf("    \"%s\": [", #Name);                                                     \
        for (int i = 0; i < Arguments; ++i) std::printf("%s\"%s\"", i ? ", " : "", names[i]);    \
        std::printf("],\n");                                                                     \
    }
    CVAICP_EXPORTS(CV_EXPORT_ROW)
#undef CV_EXPORT_ROW
    std::printf("}\n");
    return 0;
}
