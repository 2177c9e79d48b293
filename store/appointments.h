// The local work of the appointment exports: one line of a period file added, removed, replaced
// or read, and the walk over a period file. Each takes the caller's record and answers as the
// export does.
#pragma once

#include <cstdint>

#include "include/cvaicp.h"

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

}  // namespace cv
