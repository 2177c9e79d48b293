// Which occurrences of a recurring object the store holds: those of a window of whole days around
// the time of the write, rolled forward as time passes (RollCalendar), rather than the first ones
// from DTSTART, which for a series begun years ago would all lie in the past.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cvical {

constexpr int kDefaultBackDays = 365;
constexpr int kDefaultHorizonDays = 365;
constexpr int kMaxWindowDays = 36500;  // either way: a hundred years
constexpr size_t kMaxOccurrences = 2000;

struct Window {
    int64_t now = 0;  // seconds since 1970
    int back_days = kDefaultBackDays;
    int horizon_days = kDefaultHorizonDays;
    size_t max_occurrences = kMaxOccurrences;  // the master and the further occurrences together

    // The edges are whole UTC days, so that two writes on one day keep the same appointments.
    // 00:00 UTC of the day `back_days` before now's day: occurrences from there on are kept.
    int64_t back_edge() const;
    // 00:00 UTC of the day after the day `horizon_days` after now's: occurrences before it.
    int64_t horizon_edge() const;
};

}  // namespace cvical
