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

template <typename... Records>
int32_t Answer(Records*... records) {
    return (Touch(records, sizeof *records) + ...);
}

}  // namespace

// The exports that cvadmind serves (those the library forwards), from the export table.
#define CV_STUB_FORWARDED_0_ARGUMENTS_0(Name, First, Second)
#define CV_STUB_FORWARDED_0_ARGUMENTS_1(Name, First, Second)
#define CV_STUB_FORWARDED_1_ARGUMENTS_1(Name, First, Second) \
    int32_t CVAPI Name(First* a) {                           \
        return Answer(a);                                    \
    }
#define CV_STUB_FORWARDED_1_ARGUMENTS_2(Name, First, Second) \
    int32_t CVAPI Name(First* a, Second* b) {                \
        return Answer(a, b);                                 \
    }
#define CV_STUB(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, Forwarded) \
    CV_STUB_FORWARDED_##Forwarded##_ARGUMENTS_##Arguments(Name, First, Second)

extern "C" {
CVAICP_EXPORTS(CV_STUB)
}  // extern "C"
