// Free/busy: the days of a period that have appointments of their own, told by the names of the
// day-level period files alone.
#pragma once

#include <cstdint>

#include "include/cvaicp.h"

namespace cv {

// The local work of GetFreeBusyData: BusyDays gets the day numbers of the day-level period files
// whose names begin with NamePrefix, joined by ","; BusyDaysLength their length when any matched.
// Always 1.
int32_t GetBusyDays(FreeBusyRequest* request);

}  // namespace cv
