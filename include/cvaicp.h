/* CVAICP: the calendar provider library of the mail server.
 *
 * The C boundary: the records a host fills and the functions it calls. Every record is a fixed
 * byte layout (32-bit little-endian integers, NUL-terminated 8-bit texts inside their fields), the
 * same in both builds and the same on the wire when a call is forwarded to a remote server. Every
 * function returns a 32-bit integer, as a rule 1 for success and 0 for failure. */
#ifndef CVAICP_H
#define CVAICP_H

#include <stdint.h>

#if defined(_WIN32)
#define CVAPI __stdcall
#else
#define CVAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One appointment: the line "start<TAB>finish<TAB>id" of a period file. 648 bytes. */
typedef struct AppointmentRequest {
    char Mailbox[256];    /* the folder below MAILROOT */
    char Postoffice[256]; /* the folder below the mail root; never empty */
    int32_t StartTime;    /* seconds since 1970-01-01 00:00 UTC */
    int32_t FinishTime;   /* same unit */
    char ItemId[64];      /* the appointment's id: a filter on input, an output when reading */
    char PeriodName[64];  /* the period file's base name (without ".CAL") */
} AppointmentRequest;

/* One chunk of an appointment's item file. 8772 bytes. */
typedef struct AppointmentItemRequest {
    char Mailbox[256];
    char Postoffice[256];
    char ItemFileName[64]; /* the item file's name inside the Calendar folder */
    char Data[8192];       /* one chunk of the body */
    int32_t DataLength;    /* bytes of Data in use */
} AppointmentItemRequest;

/* The busy days of a period. 8776 bytes. */
typedef struct FreeBusyRequest {
    char Mailbox[256];
    char Postoffice[256];
    char NamePrefix[68];    /* beginning of the period names to look at, e.g. a month's name */
    char BusyDays[8192];    /* output: day numbers joined by "," */
    int32_t BusyDaysLength; /* output: length of BusyDays */
} FreeBusyRequest;

/* The request of a list enumeration: the appointments of a mailbox inside a time range, optionally
 * sorted or filtered by a stylesheet. Input only. 5388 bytes. */
typedef struct ListContext {
    char Reserved[1024];
    int32_t RangeStart; /* seconds since 1970-01-01 00:00 UTC; its local date picks the periods */
    int32_t RangeEnd;   /* same unit */
    char Postoffice[128];
    char Mailbox[128];
    char Stylesheet[4096]; /* XSL stylesheet as XML text; empty: no stylesheet */
    char Reserved2[4];
} ListContext;

/* One listed appointment. Its first 584 bytes are laid out as an AppointmentRequest. 8780 bytes. */
typedef struct ListItem {
    char Mailbox[256];
    char Postoffice[256];
    int32_t StartTime;  /* seconds since 1970-01-01 00:00 UTC */
    int32_t FinishTime; /* same unit */
    char ItemId[64];
    char ItemXml[8192];     /* the appointment's index element as XML text */
    uint32_t ItemXmlLength; /* bytes of ItemXml, without the NUL */
} ListItem;

#pragma pack(pop)

/* Appointments (lines of period files). 1 for success, 0 for failure. */
int32_t CVAPI AppointmentAdd(AppointmentRequest* request);
int32_t CVAPI AppointmentRemove(AppointmentRequest* request);
int32_t CVAPI AppointmentEdit(AppointmentRequest* old_request, AppointmentRequest* new_request);
int32_t CVAPI AppointmentGet(AppointmentRequest* request);
int32_t CVAPI AppointmentFindFirst(AppointmentRequest* request);
int32_t CVAPI AppointmentFindNext(AppointmentRequest* request);

/* Item files: an appointment's body in chunks of up to 8192 bytes. The reads answer 1 while they
 * deliver bytes; the writes and the delete always answer 1; GetSize answers 0 and reports the size
 * in DataLength; GetCurrentOffset answers the position of the last byte read (-1 before any). */
int32_t CVAPI AppointmentItemGetFirstChunk(AppointmentItemRequest* request);
int32_t CVAPI AppointmentItemGetNextChunk(AppointmentItemRequest* request);
int32_t CVAPI AppointmentItemGetSize(AppointmentItemRequest* request);
int32_t CVAPI AppointmentItemGetCurrentOffset(AppointmentItemRequest* request);
int32_t CVAPI AppointmentItemWriteFirstChunk(AppointmentItemRequest* request);
int32_t CVAPI AppointmentItemWriteNextChunk(AppointmentItemRequest* request);
int32_t CVAPI AppointmentItemDelete(AppointmentItemRequest* request);

/* The busy days of a period: day numbers of the day-level period files whose names begin with
 * NamePrefix. Always 1. */
int32_t CVAPI GetFreeBusyData(FreeBusyRequest* request);

/* The list enumeration: FindFirst, FindNext until it answers 0, then FindClose; one listing at a
 * time in the process, on one thread. 1 while an item is delivered. */
int32_t CVAPI AppointmentListItemFindFirst(ListContext* context, ListItem* item);
int32_t CVAPI AppointmentListItemFindNext(ListContext* context, ListItem* item);
int32_t CVAPI AppointmentListItemFindClose(ListContext* context);

/* Chooses the remote host that the calls of this process go to ("" for none: local). 1. */
int32_t CVAPI SetCurrentHost(const char* host);

/* Always 0: no function keeps an error code. */
int32_t CVAPI AppointmentGetLastError(void);

#ifdef __cplusplus
}
#endif

#endif /* CVAICP_H */
