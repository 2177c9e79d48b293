"""The benchmark calendar: N appointments over the 20 years 2007-2026, spread as the history of
bench/history_store.h is (mostly one-hour events, some all-day, a few all-day over several days),
with one busy day, 2026-12-07, holding a tenth of them from noon on. Each is a VEVENT of a few
hundred bytes, written as cvcal import stores it: libical's text, folded and escaped as libical
folds and escapes, so that the stores written directly hold what an import would have made.

The times are UTC and the benchmark runs its servers in UTC, so an all-day event's local days
are UTC days wherever the machine is."""
import calendar
import datetime
import time
from typing import List, NamedTuple, Tuple

from item_files import master_id

FIRST_DAY = datetime.date(2007, 1, 1)
END_DAY = datetime.date(2027, 1, 1)  # the first day after the history
BUSY_NOON = calendar.timegm((2026, 12, 7, 12, 0, 0))
BUSY_SHARE = 10  # one appointment in this many lies in the busy day
PRODID = "-//CVAICP//cvcal//EN"  # cvcal import writes its own PRODID over the file's
_DAY = 86400


class Event(NamedTuple):
    number: int
    uid: str
    start: int  # UTC seconds; an all-day event's first midnight
    end: int  # DTEND: exclusive, the midnight after the last day for an all-day event
    all_day: bool
    summary: str
    location: str
    description: str

    @property
    def href(self) -> str:
        """The resource name: the one the store gives an object whose client chose none, used
        for the reference server's files too, so that one href names one event on both."""
        return master_id(self.uid) + ".ics"


def _kind(number: int) -> int:
    """0 to 999, scattered as the history's appointment kinds are."""
    return (((number * 2654435761) & 0xFFFFFFFF) >> 16) % 1000


def _texts(number: int) -> Tuple[str, str, str]:
    summary = "Meeting %d about the quarter's plans" % number
    location = "Room %d, second floor" % (number % 40 + 1)
    description = ("Notes for meeting %d.\n"
                   "Where we stand, what is left to do, and who takes it on; the minutes follow "
                   "the agenda.\n"
                   "Actions: review the plan, book the room for the next one, send the summary "
                   "to everyone who could not come (%d invited)." % (number, number % 17 + 3))
    return summary, location, description


def make_event(number: int, uid: str, start: int, end: int, all_day: bool) -> Event:
    return Event(number, uid, start, end, all_day, *_texts(number))


def events(count: int) -> List[Event]:
    """The calendar of `count` appointments, in the order they are written."""
    busy = count // BUSY_SHARE
    spread = count - busy
    first = calendar.timegm(FIRST_DAY.timetuple()) // _DAY
    days = (END_DAY - FIRST_DAY).days
    found = []
    for number in range(count):
        if number >= spread:
            k = number - spread
            start = BUSY_NOON + (k * 12 * 3600 // busy) // 60 * 60
            end, all_day = start + 900, False
        else:
            day = (first + number * days // spread) * _DAY
            kind = _kind(number)
            if kind >= 990:  # several days
                start, end, all_day = day, day + (2 + number % 3) * _DAY, True
            elif kind >= 940:
                start, end, all_day = day, day + _DAY, True
            else:
                start = day + 7 * 3600 + (number % 8) * 1800
                end, all_day = start + 3600, False
        found.append(make_event(number, "bench-%06d@cvaicp.test" % number, start, end, all_day))
    return found


def week_with_events(found: List[Event]) -> int:
    """The Monday (UTC midnight) of the week of the middle ordinary appointment."""
    spread = len(found) - len(found) // BUSY_SHARE
    day = found[spread // 2].start // _DAY * _DAY
    return day - time.gmtime(day).tm_wday * _DAY


def overlapping(found: List[Event], start: int, end: int) -> int:
    """How many of the events meet the range [start, end), as a time-range query counts them."""
    return sum(1 for e in found if e.start < end and e.end > start)


# libical's text ----------------------------------------------------------------------------

def _escaped(text: str) -> str:
    return (text.replace("\\", "\\\\").replace(";", "\\;").replace(",", "\\,")
            .replace("\n", "\\n"))


def _folded(line: str) -> str:
    """A content line folded as libical folds it: a piece of at most 74 characters ends after
    the last space, colon or semicolon among its first 74 (else after 74 characters), and every
    further piece starts with a space."""
    pieces = []
    while len(line) >= 75:
        cut = 0
        for at in range(73, 0, -1):
            if line[at] in " :;":
                cut = at + 1
                break
        cut = cut or 74
        pieces.append(line[:cut])
        line = line[cut:]
    pieces.append(line)
    return "\r\n ".join(pieces) + "\r\n"


def utc_text(seconds: int) -> str:
    return time.strftime("%Y%m%dT%H%M%SZ", time.gmtime(seconds))


def _date_text(seconds: int) -> str:
    return time.strftime("%Y%m%d", time.gmtime(seconds))


def vevent_lines(event: Event, extra: List[str] = ()) -> List[str]:
    if event.all_day:
        times = ["DTSTART;VALUE=DATE:" + _date_text(event.start),
                 "DTEND;VALUE=DATE:" + _date_text(event.end)]
    else:
        times = ["DTSTART:" + utc_text(event.start), "DTEND:" + utc_text(event.end)]
    return (["BEGIN:VEVENT", "UID:" + event.uid, "DTSTAMP:" + utc_text(event.start - 7 * _DAY)]
            + times + list(extra) +
            ["SUMMARY:" + _escaped(event.summary), "LOCATION:" + _escaped(event.location),
             "DESCRIPTION:" + _escaped(event.description), "END:VEVENT"])


def ics_text(event: Event, extra: List[str] = (), prodid: str = PRODID) -> str:
    """The object's VCALENDAR, lines ended by CR LF; `extra` lines (an RRULE) follow DTEND."""
    return calendar_text([event], extra, prodid)


def calendar_text(found: List[Event], extra: List[str] = (), prodid: str = PRODID) -> str:
    """One VCALENDAR holding the VEVENTs of these events."""
    lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:" + prodid]
    for event in found:
        lines += vevent_lines(event, extra)
    lines.append("END:VCALENDAR")
    return "".join(_folded(line) for line in lines)
