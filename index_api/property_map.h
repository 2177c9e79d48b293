// The calendar property map: item-property names (PR_SUBJECT, PR_BNP_Start, ...) translated into
// the index field that holds each one, with the value's type on the caller's side and in the
// index, and whether the value lives in the index or in the item's own file.
//
// These are entry points of the store layer's calendar-folder access; no export of the provider
// calls them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/store_index.h"

namespace cv {

// Value type codes; the same codes describe the caller's value and the index's.
enum PropertyValueType : uint32_t {
    kValueText = 1,      // text, read through a 1024-byte buffer
    kValueOpaque = 2,    // passed through unchanged
    kValueFileTime = 3,  // FILETIME: 64-bit 100-ns ticks since 1601, low word first
    kValueDateText = 4,  // ISO date text
    kValueBinary = 5,    // passed through unchanged as well
    kValueSeconds = 6,   // seconds since 1970 UTC as signed decimal text
    kValueInteger = 7,   // signed 32-bit integer
    kValueAnyText = 8,   // text of any length
    kValueDouble = 9,    // 64-bit floating point
    kValueBoolean = 10,  // 32-bit integer, 0 or not 0
};

// The size of a value of the type: what a read buffer of it holds. Text of any length has no
// fixed size (kVariableValueSize: its length + 1); an unknown type has size 0.
constexpr size_t kVariableValueSize = static_cast<size_t>(-1);
size_t PropertyValueSize(uint32_t type);
// A short name of the type, for people ("int32", "FILETIME", ...); "unknown" for other codes.
const char* PropertyValueTypeName(uint32_t type);

// Where a value lives.
enum PropertySource : uint32_t {
    kSourceIndex = 0,     // a field of the item's index entry
    kSourceItemFile = 1,  // the item's own file; the index does not carry it
};

constexpr size_t kElementNameSize = 1024;

// The index field of a property. An element name that begins with '@' names an attribute of the
// item's ELEMENT ("@ID"); one that begins with '!' names a number the node slot keeps beside the
// XML ("!CLASS", read as decimal text); any other names a child element of the ELEMENT.
struct IndexFieldDescriptor {
    char ElementName[kElementNameSize];
    uint32_t PropertyType;
    uint32_t IndexType;
    uint32_t Source;
};

// Fills the descriptor for a property name, letters in any case: 1 when the name is known; 0
// when not, with an empty element name.
int LookupCalendarProperty(const char* name, IndexFieldDescriptor* field);

// One row of the map, for listing the known names.
struct PropertyMapRow {
    const char* name;
    const char* element;
    uint32_t property_type;
    uint32_t index_type;
    uint32_t source;
};
// The generic item names (searched first), then the calendar names in their search order.
std::vector<PropertyMapRow> PropertyMapRows();

// Converts a value between two types. in holds in_size bytes (for text: up to its NUL or the end).
// -1 when no conversion exists for the pair or the input is shorter than its type; 2 with the new
// value in *out (for text: the characters and their NUL). The pairs: text to text (8 to 8),
// integer to and from decimal text (7 and 1), FILETIME to and from decimal seconds (3 and 6),
// boolean to "1" or "0" and back (10 and 1: only the text "1" is true).
int ConvertPropertyValue(uint32_t from, uint32_t to, const void* in, size_t in_size,
                         std::vector<unsigned char>* out);

// FILETIME as its 8 bytes (low word first) and back.
std::vector<unsigned char> FileTimeBytes(FileTime time);
FileTime FileTimeFromBytes(const unsigned char* bytes);

// Reads a property of the item through its index entry, or from its file in the folder of the
// index. 2 with the value in the property's type in *value (for text: with its NUL, so that the
// size is the length + 1); -1 when the name is unknown or the value cannot be read (a missing
// element among them).
int GetCalendarProperty(const StoreIndex& folder, const IndexNodeSlot& item, const char* name,
                        std::vector<unsigned char>* value);

// Writes a property of the item: into its index entry (the document of the folder's index; the
// caller saves it) or into its file in the folder. value holds size bytes of the property's type
// (for text: up to its NUL or the end). 1 when written, 0 when not (the item file then stays as it
// was), -1 when the name is unknown.
int SetCalendarProperty(StoreIndex* folder, IndexNodeSlot* item, const char* name,
                        const void* value, size_t size);

// The ELEMENT of the index whose ID is the given one (letters in any case, as the store compares
// names), put into the slot. False when there is none.
bool FindIndexItem(const StoreIndex& folder, const char* id, IndexNodeSlot* item);

}  // namespace cv
