// The local work of the appointment exports: one line of a period file added, removed, replaced
// or read, and the walk over a period file. Each takes the caller's record and answers as the
// export does.
#pragma once

#include <cstdint>

#include "provider/cvaicp.h"

namespace cv {

int32_t AddAppointment(const AppointmentRequest& request);
int32_t RemoveAppointment(const AppointmentRequest& request);
int32_t EditAppointment(const AppointmentRequest& old_request,
                        const AppointmentRequest& new_request);
int32_t GetAppointment(AppointmentRequest* request);
int32_t FindFirstAppointment(AppointmentRequest* request);
int32_t FindNextAppointment(AppointmentRequest* request);

}  // namespace cv
