// A provider library for the session fuzzer: the exports cvadmind may run, with the records'
// layouts, but no store behind them. Each changes its records in a way that depends only on what
// it was given, so that the replies carry varied, reproducible records.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "include/cvaicp.h"

namespace {

int32_t Touch(void* record, size_t size) {
    unsigned char* bytes = static_cast<unsigned char*>(record);
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = sum * 31 + bytes[i];
    bytes[sum % size] ^= 0x5A;
    return static_cast<int32_t>(sum & 1);
}

// A list item gets the context's bytes (less compressible than zeros), as far as they go.
int32_t Fill(ListContext* context, ListItem* item) {
    std::memcpy(item, context, sizeof *context);
    return Touch(item, sizeof *item);
}

}  // namespace

extern "C" {

int32_t CVAPI AppointmentAdd(AppointmentRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentRemove(AppointmentRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentEdit(AppointmentRequest* a, AppointmentRequest* b) {
    return Touch(a, sizeof *a) + Touch(b, sizeof *b);
}
int32_t CVAPI AppointmentGet(AppointmentRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentFindFirst(AppointmentRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentFindNext(AppointmentRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentItemGetFirstChunk(AppointmentItemRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentItemGetNextChunk(AppointmentItemRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentItemGetSize(AppointmentItemRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentItemWriteFirstChunk(AppointmentItemRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentItemWriteNextChunk(AppointmentItemRequest* r) {
    return Touch(r, sizeof *r);
}
int32_t CVAPI AppointmentListItemFindFirst(ListContext* c, ListItem* i) {
    return Fill(c, i);
}
int32_t CVAPI AppointmentListItemFindNext(ListContext* c, ListItem* i) {
    return Fill(c, i);
}
int32_t CVAPI AppointmentListItemFindClose(ListContext* c) {
    return Touch(c, sizeof *c);
}

}  // extern "C"
