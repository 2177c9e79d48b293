"""The measured rows: each sends one kind of request to one server, once to warm up and then
`repeat` times timed, doing what the request needs (a change before a sync, a clean-up after a
PUT) untimed around it. A row leaves the calendar as it found it, except that the PUT row leaves
its events for the DELETE row to remove."""
import calendar
import secrets
from typing import Callable, Dict, List, NamedTuple, Optional, Tuple

import events
from client import (Answer, Client, calendar_multiget, calendar_query, found_hrefs,
                    propfind_etags, sync_collection, sync_token)

WEEK = 7 * 86400
CLIENT_PRODID = "-//CVAICP//dav bench//EN"
_PUT_HEADERS = {"Content-Type": "text/calendar; charset=utf-8"}
# The recurring events the PUT rows send: a weekly one of 2026, and a daily series whose 2,000
# occurrences all lie before the door's horizon (a year from today), so that each becomes an
# appointment; the week queried on a calendar holding the series lies inside it.
WEEKLY_START = calendar.timegm((2026, 1, 5, 10, 0, 0))
SERIES_START = calendar.timegm((2021, 6, 1, 8, 0, 0))
SERIES_WEEK = calendar.timegm((2024, 3, 4, 0, 0, 0))
NEW_EVENT_START = calendar.timegm((2026, 12, 10, 10, 0, 0))


class Calendar:
    """What the rows of one size share: the events, the hrefs they ask for, and the events the
    PUT row made (by server), which the DELETE row removes."""

    def __init__(self, found: List[events.Event]) -> None:
        self.events = found
        self.tag = secrets.token_hex(4)  # names of this run's new events
        self.week = events.week_with_events(found)
        self.week_events = events.overlapping(found, self.week, self.week + WEEK)
        self.one = found[(len(found) - len(found) // events.BUSY_SHARE) // 2]
        self.changed = found[len(found) // 3]
        step = max(1, len(found) // 100)
        self.hundred = [e.href for e in found[::step][:100]]
        self.made: Dict[str, List[str]] = {}


class Measure:
    """The times (seconds) and what each timed answer held (how many events)."""

    def __init__(self) -> None:
        self.times: List[float] = []
        self.counts: List[int] = []

    def run(self, repeat: int, once: Callable[[int], Tuple[Answer, int]]) -> None:
        for n in range(-1, repeat):  # -1: the warm-up
            answer, count = once(n)
            if n >= 0:
                self.times.append(answer.seconds)
                self.counts.append(count)


def _items(hrefs: List[str]) -> int:
    return sum(1 for h in hrefs if h.endswith(".ics"))


def _new_event(cal: Calendar, kind: str, n: int, start: int, length: int = 3600
               ) -> events.Event:
    uid = "dav-bench-%s-%s-%d@cvaicp.test" % (kind, cal.tag, n + 1)
    return events.make_event(n + 1, uid, start, start + length, False)


def _href(client: Client, event: events.Event) -> str:
    """The path of a new event: named by its UID, as clients name theirs."""
    return client.calendar + event.uid.partition("@")[0] + ".ics"


def _put(client: Client, event: events.Event, extra: List[str] = (), new: bool = True,
         prodid: str = CLIENT_PRODID) -> Answer:
    """A new event at a name of its own (If-None-Match: *), or an event of the calendar again
    at its name."""
    headers = dict(_PUT_HEADERS, **({"If-None-Match": "*"} if new else {}))
    return client.request("PUT", _href(client, event) if new else client.calendar + event.href,
                          events.ics_text(event, extra, prodid), headers)


def _report(client: Client, body: str) -> Answer:
    return client.request("REPORT", client.calendar, body,
                          {"Depth": "1", "Content-Type": "application/xml"})


# The rows ------------------------------------------------------------------------------------

def get_one(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    m.run(repeat, lambda n: (client.request("GET", client.calendar + cal.one.href), 1))


def week_report(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    body = calendar_query(cal.week, cal.week + WEEK)

    def once(n):
        answer = _report(client, body)
        return answer, _items(found_hrefs(answer))
    m.run(repeat, once)


def multiget(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    body = calendar_multiget([client.calendar + href for href in cal.hundred])

    def once(n):
        answer = _report(client, body)
        return answer, _items(found_hrefs(answer))
    m.run(repeat, once)


def sync_after_change(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    token = [sync_token(_report(client, sync_collection("")))]

    def once(n):
        changed = cal.changed._replace(summary="%s, changed %d" % (cal.changed.summary, n + 2))
        _put(client, changed, new=False)
        answer = _report(client, sync_collection(token[0]))
        token[0] = sync_token(answer)
        return answer, _items(found_hrefs(answer))
    try:
        m.run(repeat, once)
    finally:
        _put(client, cal.changed, new=False, prodid=events.PRODID)


def put_one(client: Client, cal: Calendar, m: Measure, repeat: int, side: str) -> None:
    made = cal.made.setdefault(side, [])

    def once(n):
        event = _new_event(cal, "put", n, NEW_EVENT_START + (n + 1) * 3600)
        answer = _put(client, event)
        made.append(_href(client, event))
        return answer, 1
    m.run(repeat, once)


def put_weekly(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    _put_and_remove(client, cal, m, repeat, "weekly", WEEKLY_START,
                    "RRULE:FREQ=WEEKLY;COUNT=52", 52)


def put_series(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    _put_and_remove(client, cal, m, repeat, "series", SERIES_START,
                    "RRULE:FREQ=DAILY;COUNT=2000", 2000)


def _put_and_remove(client: Client, cal: Calendar, m: Measure, repeat: int, kind: str,
                    start: int, rule: str, occurrences: int) -> None:
    def once(n):
        event = _new_event(cal, kind, n, start)
        answer = _put(client, event, [rule])
        client.request("DELETE", _href(client, event))
        return answer, occurrences
    m.run(repeat, once)


def delete_one(client: Client, cal: Calendar, m: Measure, repeat: int, side: str) -> None:
    made = cal.made.setdefault(side, [])

    def once(n):
        if not made:  # the PUT row made too few: one more, untimed
            event = _new_event(cal, "delete", n, NEW_EVENT_START - (n + 1) * 3600)
            _put(client, event)
            made.append(_href(client, event))
        return client.request("DELETE", made.pop()), 1
    m.run(repeat, once)


def propfind(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    def once(n):
        answer = client.request("PROPFIND", client.calendar, propfind_etags(),
                                {"Depth": "1", "Content-Type": "application/xml"})
        return answer, _items(found_hrefs(answer))
    m.run(repeat, once)


def sync_initial(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    def once(n):
        answer = _report(client, sync_collection(""))
        return answer, _items(found_hrefs(answer))
    m.run(repeat, once)


def series_week(client: Client, cal: Calendar, m: Measure, repeat: int) -> None:
    event = _new_event(cal, "held-series", 0, SERIES_START)
    _put(client, event, ["RRULE:FREQ=DAILY;COUNT=2000"])
    body = calendar_query(SERIES_WEEK, SERIES_WEEK + WEEK)

    def once(n):
        answer = _report(client, body)
        return answer, _items(found_hrefs(answer))
    try:
        m.run(repeat, once)
    finally:
        client.request("DELETE", _href(client, event))


def first_request(client: Client) -> Tuple[Answer, int]:
    """What a client asks first (and what makes Radicale read every item): the etags of the
    calendar, PROPFIND Depth 1."""
    answer = client.request("PROPFIND", client.calendar, propfind_etags(),
                            {"Depth": "1", "Content-Type": "application/xml"})
    return answer, _items(found_hrefs(answer))


class Row(NamedTuple):
    key: str
    title: str
    measure: Callable  # (client, calendar, measure, repeat[, side])
    by_side: bool = False  # takes the server's name: the rows that share the events made
    expected: Optional[Callable[[Calendar], int]] = None  # events each answer should hold


# In the order they run; the first request after a start and the memory come after them.
ROWS = [
    Row("get", "GET one event", get_one),
    Row("week", "REPORT calendar-query, one week", week_report,
        expected=lambda c: c.week_events),
    Row("multiget", "REPORT calendar-multiget, 100", multiget,
        expected=lambda c: len(c.hundred)),
    Row("sync_change", "REPORT sync-collection, 1 change", sync_after_change,
        expected=lambda c: 1),
    Row("put", "PUT one new event", put_one, by_side=True),
    Row("put_weekly", "PUT weekly event (52)", put_weekly),
    Row("delete", "DELETE one event", delete_one, by_side=True),
    Row("propfind", "PROPFIND Depth 1 (getetag)", propfind, expected=lambda c: len(c.events)),
    Row("sync_initial", "REPORT sync-collection, initial", sync_initial,
        expected=lambda c: len(c.events)),
    Row("series_put", "PUT daily series (2,000)", put_series),
    Row("series_week", "REPORT one week, series held", series_week),
]
