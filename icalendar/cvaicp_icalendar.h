/* The iCalendar engine and a mailbox's catalogue behind a C face, for hosts that load a shared
 * library (the CalDAV door, through Python's ctypes): libcvaicp_icalendar.so.
 *
 * A calendar is an opaque handle. Texts go in as UTF-8; answers come back as JSON texts that the
 * caller gives back with cvical_free. A failure is an answer too:
 *     {"error": KIND, "message": TEXT}
 * with KIND one of "configuration" (no mail root, a name that may not be a folder, no state
 * folder), "not-found", "refused" (an object the layout does not take), "busy" (the store or
 * the catalogue was held by another party past the waits), "invalid-token" (a sync token the
 * catalogue does not know) or "failed" (a file could not be read or written). No call throws.
 *
 * An object, as answers give it:
 *     {"href": NAME, "etag": "\"HEX\"", "uid": UID, "modified": SECONDS}
 * and, where a call says so, "text": its VCALENDAR.
 *
 * A handle may be used from any thread; calls on one handle take turns. */
#ifndef CVAICP_ICALENDAR_H
#define CVAICP_ICALENDAR_H

#include <stdint.h>

#if defined(__GNUC__)
#define CVICAL_API __attribute__((visibility("default")))
#else
#define CVICAL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cvical_calendar cvical_calendar;

/* Opens a mailbox's calendar and its catalogue. `settings`:
 *     {"postoffice": P, "mailbox": M, "state": FOLDER,
 *      "back_days": 365, "horizon_days": 365, "max_occurrences": 2000, "roll": true,
 *      "watch": true}
 * The catalogue lives in FOLDER/catalogue/ (made when missing). The values shown are the
 * defaults for those left out. With "roll", the calendar is rolled to the window whenever a
 * refresh finds it has not been rolled on the current UTC day. With "watch", the process asks the
 * system for the names that change (off for a store written from other machines, which it does
 * not report). Null on failure, with *error set to the failure's answer (when error is not
 * null). */
CVICAL_API cvical_calendar* cvical_open(const char* settings, char** error);
CVICAL_API void cvical_close(cvical_calendar* calendar);
CVICAL_API void cvical_free(char* answer);

/* Brings the catalogue up to the store (see docs/ICALENDAR.md, "The catalogue"). The queries
 * below answer from the catalogue as it stands: a host calls this once per request.
 *     {"token": SYNC-TOKEN, "modified": SECONDS} */
CVICAL_API char* cvical_refresh(cvical_calendar* calendar);
/* The objects, without their texts, in the byte order of their names: those whose names sort
 * after `after` ("" or null for the first), at most `limit` of them (0 for all):
 *     {"objects": [OBJECT, ...]}
 * A host lists a large calendar a page at a time, each page after the last one's last name. */
CVICAL_API char* cvical_list(cvical_calendar* calendar, const char* after, uint32_t limit);
/* The objects of these names (a JSON array of texts), names that hold none left out: without
 * their texts, {"objects": [OBJECT, ...]}; with them, {"objects": [OBJECT + text, ...]}. */
CVICAL_API char* cvical_find(cvical_calendar* calendar, const char* hrefs);
CVICAL_API char* cvical_get(cvical_calendar* calendar, const char* hrefs);
/* The name of the object of a UID: {"href": NAME} or {"href": null} */
CVICAL_API char* cvical_find_uid(cvical_calendar* calendar, const char* uid);
/* The objects whose instances may meet [start, end) (seconds since 1970), without their texts:
 * a superset, each range widened by the largest zone offset, for the host's own filter. An object
 * whose one VEVENT has just a DTSTART and a DTEND in UTC or as dates (then their midnights in
 * UTC), as its line holds them (a host's appointment, or a plain event sent so), also has
 * "span": [START, FINISH], and meets a range exactly when START < end and start < FINISH. */
CVICAL_API char* cvical_in_range(cvical_calendar* calendar, int64_t start, int64_t end);
/* The current token and the names changed since `token` ("" for every name):
 *     {"token": T, "changed": [NAME, ...]} */
CVICAL_API char* cvical_sync(cvical_calendar* calendar, const char* token);

/* Stores one object (a VCALENDAR of one UID's VEVENTs) under the name:
 *     {"outcome": "added"|"replaced"|"unchanged", "object": OBJECT + text}
 * Another object at that name gives way to it. Refreshes first. */
CVICAL_API char* cvical_put(cvical_calendar* calendar, const char* href, const char* text);
/* Removes the object of the name: {"deleted": NAME}, or the not-found failure. */
CVICAL_API char* cvical_delete(cvical_calendar* calendar, const char* href);
/* Rolls the calendar to its window now, whatever day it was rolled last:
 *     {"objects": N, "added": N, "removed": N} */
CVICAL_API char* cvical_roll(cvical_calendar* calendar);

#ifdef __cplusplus
}
#endif

#endif /* CVAICP_ICALENDAR_H */
