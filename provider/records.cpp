// The layouts cross the library boundary and travel byte for byte to remote servers: any change
// in size or offset breaks hosts and peers, so the compiler checks every one.
#include <cstddef>

#include "provider/cvaicp.h"

static_assert(sizeof(AppointmentRequest) == 648, "AppointmentRequest layout");
static_assert(offsetof(AppointmentRequest, Mailbox) == 0, "AppointmentRequest layout");
static_assert(offsetof(AppointmentRequest, Postoffice) == 256, "AppointmentRequest layout");
static_assert(offsetof(AppointmentRequest, StartTime) == 512, "AppointmentRequest layout");
static_assert(offsetof(AppointmentRequest, FinishTime) == 516, "AppointmentRequest layout");
static_assert(offsetof(AppointmentRequest, ItemId) == 520, "AppointmentRequest layout");
static_assert(offsetof(AppointmentRequest, PeriodName) == 584, "AppointmentRequest layout");

static_assert(sizeof(AppointmentItemRequest) == 8772, "AppointmentItemRequest layout");
static_assert(offsetof(AppointmentItemRequest, Mailbox) == 0, "AppointmentItemRequest layout");
static_assert(offsetof(AppointmentItemRequest, Postoffice) == 256, "AppointmentItemRequest layout");
static_assert(offsetof(AppointmentItemRequest, ItemFileName) == 512,
              "AppointmentItemRequest layout");
static_assert(offsetof(AppointmentItemRequest, Data) == 576, "AppointmentItemRequest layout");
static_assert(offsetof(AppointmentItemRequest, DataLength) == 8768,
              "AppointmentItemRequest layout");

static_assert(sizeof(FreeBusyRequest) == 8776, "FreeBusyRequest layout");
static_assert(offsetof(FreeBusyRequest, Mailbox) == 0, "FreeBusyRequest layout");
static_assert(offsetof(FreeBusyRequest, Postoffice) == 256, "FreeBusyRequest layout");
static_assert(offsetof(FreeBusyRequest, NamePrefix) == 512, "FreeBusyRequest layout");
static_assert(offsetof(FreeBusyRequest, BusyDays) == 580, "FreeBusyRequest layout");
static_assert(offsetof(FreeBusyRequest, BusyDaysLength) == 8772, "FreeBusyRequest layout");
