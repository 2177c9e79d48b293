// The local work of the item exports: an appointment's item file moved in chunks of up to 8192
// bytes through AppointmentItemRequest records.
#pragma once

#include <cstdint>

#include "include/cvaicp.h"

namespace cv {

int32_t ItemGetFirstChunk(AppointmentItemRequest* request);
int32_t ItemGetNextChunk(AppointmentItemRequest* request);
int32_t ItemGetSize(AppointmentItemRequest* request);
int32_t ItemGetCurrentOffset();
int32_t ItemWriteFirstChunk(AppointmentItemRequest* request);
int32_t ItemWriteNextChunk(AppointmentItemRequest* request);
int32_t ItemDelete(const AppointmentItemRequest& request);

}  // namespace cv
