// A provider library for the session fuzzer: the exports cvadmind may run, with the records'
// layouts, but no store behind them. Each changes its records in a way that depends only on what
// it was given, so that the replies carry varied, reproducible records.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "include/cvaicp_exports.h"

namespace {

int32_t Touch(void* record, size_t size) {
    unsigned char* bytes = static_cast<unsigned char*>(record);
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = sum * 31 + bytes[i];
    bytes[sum % size] ^= 0x5A;
    return static_cast<int32_t>(sum & 1);
}

// A list item gets the context's bytes (less compressible than zeros), as far as they go.
int32_t Answer(ListContext* context, ListItem* item) {
    std::memcpy(item, context, sizeof *context);
    return Touch(item, sizeof *item);
}

template <typename Record>
int32_t Answer(Record* record) {
    return Touch(record, sizeof *record);
}

template <typename First, typename Second>
int32_t Answer(First* first, Second* second) {
    return Touch(first, sizeof *first) + Touch(second, sizeof *second);
}

}  // namespace

// The exports that cvadmind serves (those the library forwards), from the export table.
#define CV_STUB_1_ARGUMENTS(Name, First, Second) \
    int32_t CVAPI Name(First* a) {               \
        return Answer(a);                        \
    }
#define CV_STUB_2_ARGUMENTS(Name, First, Second) \
    int32_t CVAPI Name(First* a, Second* b) {    \
        return Answer(a, b);                     \
    }
#define CV_STUB_FORWARDED_0(Name, Arguments, First, Second)
#define CV_STUB_FORWARDED_1(Name, Arguments, First, Second) \
    CV_STUB_##Arguments##_ARGUMENTS(Name, First, Second)
#define CV_STUB(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, Forwarded) \
    CV_STUB_FORWARDED_##Forwarded(Name, Arguments, First, Second)

extern "C" {
CVAICP_EXPORTS(CV_STUB)
}  // extern "C"
