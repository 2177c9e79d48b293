// The local work of the appointment exports: one line of a period file added, removed, replaced
// or read, and the walk over a period file. Each takes the caller's record and answers as the
// export does.
#pragma once

#include <cstdint>
#include <functional>

#include "include/cvaicp.h"
#include "store/period_file.h"

namespace cv {

int32_t AddAppointment(const AppointmentRequest& request);
int32_t RemoveAppointment(const AppointmentRequest& request);
int32_t EditAppointment(const AppointmentRequest& old_request,
                        const AppointmentRequest& new_request);
int32_t GetAppointment(AppointmentRequest* request);
// The walk. With `failed` given, it tells whether a step that answered 0 did so because the period
// file could not be read (rather than at its end, or because there is no such file): the walk has
// then not seen every line.
int32_t FindFirstAppointment(AppointmentRequest* request, bool* failed = nullptr);
int32_t FindNextAppointment(AppointmentRequest* request, bool* failed = nullptr);

// The walk taken in one step, for a reader that wants every line of a period (the index scan):
// one wait for the blocking file, the whole file read at once, and `visit` called for each line in
// order (every line: the record's id is not looked at). A step-by-step walk would open the file
// again for every line. The thread's enumeration slot is left where a walk to the end leaves it.
// `failed` as for the walk: set when the file could not be read, or only in part (the lines of
// that part are visited). `folder`, where given, is the Calendar folder held open.
void VisitAllAppointments(const AppointmentRequest& request,
                          const std::function<void(const PeriodLine&)>& visit, bool* failed,
                          const FolderHandle* folder = nullptr);

}  // namespace cv
