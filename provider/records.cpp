// The layouts cross the library boundary and travel byte for byte to remote servers: any change
// in size or offset breaks hosts and peers, so the compiler checks every one.
#include <cstddef>

#include "include/cvaicp.h"

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

static_assert(sizeof(ListContext) == 5388, "ListContext layout");
static_assert(offsetof(ListContext, RangeStart) == 1024, "ListContext layout");
static_assert(offsetof(ListContext, RangeEnd) == 1028, "ListContext layout");
static_assert(offsetof(ListContext, Postoffice) == 1032, "ListContext layout");
static_assert(offsetof(ListContext, Mailbox) == 1160, "ListContext layout");
static_assert(offsetof(ListContext, Stylesheet) == 1288, "ListContext layout");
static_assert(offsetof(ListContext, Reserved2) == 5384, "ListContext layout");

static_assert(sizeof(ListItem) == 8780, "ListItem layout");
static_assert(offsetof(ListItem, Mailbox) == offsetof(AppointmentRequest, Mailbox),
              "ListItem layout");
static_assert(offsetof(ListItem, Postoffice) == offsetof(AppointmentRequest, Postoffice),
              "ListItem layout");
static_assert(offsetof(ListItem, StartTime) == offsetof(AppointmentRequest, StartTime),
              "ListItem layout");
static_assert(offsetof(ListItem, FinishTime) == offsetof(AppointmentRequest, FinishTime),
              "ListItem layout");
static_assert(offsetof(ListItem, ItemId) == offsetof(AppointmentRequest, ItemId),
              "ListItem layout");
static_assert(offsetof(ListItem, ItemXml) == 584, "ListItem layout");
static_assert(offsetof(ListItem, ItemXmlLength) == 8776, "ListItem layout");
