// Date conversions for the calendar index: the dates that item headers carry, as message-header
// dates ("Tue, 07 Mar 2005 14:30:10 +0100") or in the short form "HH:MM[:SS] DD Mon, YYYY", are
// turned into the ISO text "YYYY-MM-DDTHH:MM:SS" or into seconds since 1970-01-01 00:00 UTC.
//
// Time values are the store's signed 32-bit seconds, whatever the width of the platform's time_t:
// a local conversion whose result falls outside 1970-01-01 00:00:00 to 2038-01-19 03:14:07 UTC
// fails. The machine's zone is read at every call, unless the caller gives a snapshot of it
// (GetTimeZoneInfo) for a run of conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"

namespace cv {

// Outputs of the ISO converters are at least this large.
constexpr size_t kIsoDateSize = 128;

// The field after the first occurrence of start (the beginning of the text when start is empty or
// null) and before the next end, which is searched from one character after that occurrence, so
// that a field never ends at the first character of what remains. The field goes to out, cut to
// size - 1 characters (size 0: no limit), and the result points just past the end delimiter.
// Without an end, out receives everything from the occurrence of start on (start included) and the
// result is null. When start or end is not found the result is null and out is left alone.
const char* ExtractField(const char* text, const char* start, const char* end, char* out,
                         size_t size);

// Month index 0-10 for "Jan" to "Nov", letters in any case; anything else, "Dec" included, is 11.
int MonthFromName(const char* name);

// The record's fields read as UTC. The machine's current zone state is applied on the way in (the
// local conversion) and taken off again on the way out, so that the season of the date does not
// matter. 0 when the zone information is invalid; when the local conversion fails the value is
// not meaningful.
int32_t UtcFieldsToTime(const std::tm& fields);
int32_t UtcFieldsToTime(const std::tm& fields, const TimeZoneInfo& zone);

// A message-header date as the UTC ISO text of the instant it names. A numeric zone ("+0100") is
// taken off, "GMT" and zone names count as 0; without a zone text the fields are taken as UTC. A
// date outside the 32-bit time range is written as given, without a zone shift. 1 on success, 0
// when a part is missing (out untouched).
int ParseMessageDate(const char* text, char* out);
int ParseMessageDate(const char* text, char* out, const TimeZoneInfo& zone);

// A short-form date as ISO text, copied field by field (no zone conversion, seconds 00). 1 on
// success, 0 when a delimiter is missing (out untouched).
int ParseShortDate(const char* text, char* out);

// A short-form date, seconds optional, read as UTC: seconds since 1970, 0 when a delimiter is
// missing.
int32_t ParseShortDateToTime(const char* text);
int32_t ParseShortDateToTime(const char* text, const TimeZoneInfo& zone);

}  // namespace cv
