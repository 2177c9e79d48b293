"""An iCalendar object taken apart: its UID, its text as stored, and its occurrences in time
order, each with the times the store keeps (UTC seconds; an all-day event covers its local days)
and the component whose texts it shows."""
import datetime
import re
import time
from typing import Any, Dict, Iterator, List, NamedTuple, Optional

import vobject

from .work_bound import processor_seconds

MAX_OCCURRENCES = 2000
EXPANSION_SECONDS = 1.0  # of processor time: see work_bound
_LINE_BREAK = re.compile(r"\r\n|\r|\n")


class Occurrence(NamedTuple):
    start: int
    finish: int
    all_day: bool
    event: Any  # the vobject VEVENT whose texts this occurrence shows


class CalendarObject(NamedTuple):
    uid: str
    text: str  # the VCALENDAR as stored: its lines, each ended by CR LF
    master: Any  # the VEVENT without RECURRENCE-ID, or None when only overrides came
    overrides: List[Any]

    @property
    def recurring(self) -> bool:
        return self.master is None or bool(self.overrides) or \
            "rrule" in self.master.contents or "rdate" in self.master.contents


def stored_text(ics_text: str) -> str:
    """The text as an item keeps it: every line ended by CR LF, no empty lines at its end."""
    lines = _LINE_BREAK.split(ics_text)
    while lines and lines[-1].strip() == "":
        lines.pop()
    return "".join(line + "\r\n" for line in lines)


def parse(ics_text: str) -> CalendarObject:
    """One VCALENDAR holding the VEVENTs of one UID; ValueError for anything else."""
    if "\0" in ics_text:
        raise ValueError("the calendar text holds a NUL")
    text = stored_text(ics_text)
    try:
        calendars = list(vobject.readComponents(text))
    except Exception as e:  # vobject raises several kinds for bad text
        raise ValueError("not an iCalendar object: %s" % e) from None
    if len(calendars) != 1 or calendars[0].name != "VCALENDAR":
        raise ValueError("expected one VCALENDAR")
    calendar = calendars[0]
    kinds = {c.name for c in calendar.getChildren() if isinstance(c, vobject.base.Component)}
    if kinds - {"VEVENT", "VTIMEZONE"} or "VEVENT" not in kinds:
        raise ValueError("expected VEVENTs (and their VTIMEZONEs) only")
    events = calendar.vevent_list
    uids = {e.uid.value if "uid" in e.contents else "" for e in events}
    if len(uids) != 1 or "" in uids:
        raise ValueError("expected one UID in the object")
    masters = [e for e in events if "recurrence-id" not in e.contents]
    if len(masters) > 1:
        raise ValueError("more than one VEVENT without RECURRENCE-ID")
    for e in events:
        if "dtstart" not in e.contents:
            raise ValueError("a VEVENT without DTSTART")
    return CalendarObject(uids.pop(), text, masters[0] if masters else None,
                          [e for e in events if "recurrence-id" in e.contents])


def _is_day(value: Any) -> bool:
    return isinstance(value, datetime.date) and not isinstance(value, datetime.datetime)


def _local(day: datetime.date, h: int, m: int, s: int) -> int:
    return int(time.mktime((day.year, day.month, day.day, h, m, s, 0, 0, -1)))


def seconds(value: Any) -> int:
    """A DATE as its local midnight; a DATE-TIME in UTC, floating ones as local."""
    if _is_day(value):
        return _local(value, 0, 0, 0)
    localize = getattr(value.tzinfo, "localize", None)
    if localize is not None:  # a pytz zone: the offset of that wall-clock time, not the first's
        value = localize(value.replace(tzinfo=None))
    return int(value.timestamp())


def _times(event: Any, start_value: Any) -> Occurrence:
    """The occurrence of `event` starting at start_value (its DTSTART or a recurrence's)."""
    dtstart = event.dtstart.value
    end = event.dtend.value if "dtend" in event.contents else None
    duration = event.duration.value if "duration" in event.contents else None
    if _is_day(dtstart):
        day = start_value.date() if isinstance(start_value, datetime.datetime) else start_value
        days = 1
        if end is not None and _is_day(end):
            days = max(1, (end - dtstart).days)
        elif duration is not None:
            days = max(1, duration.days)
        last = day + datetime.timedelta(days=days - 1)
        return Occurrence(_local(day, 0, 0, 0), _local(last, 23, 59, 59), True, event)
    length = 0
    if end is not None:
        length = seconds(end) - seconds(dtstart)
    elif duration is not None:
        length = int(duration.total_seconds())
    start = seconds(start_value)
    return Occurrence(start, start + max(0, length), False, event)


def _key(value: Any, all_day: bool) -> int:
    if all_day and isinstance(value, datetime.datetime):
        value = value.date()
    return seconds(value)


# A rule is followed for at most this many of its steps (INTERVAL units of its FREQ) after
# DTSTART, as cvcal's import follows it. dateutil checks that end only against an instance it has
# found, so a rule whose parts never match (FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30) is ended by
# the bound on processor time instead (work_bound). The units by dateutil's FREQ numbers.
MAX_RULE_STEPS = 20000
_STEP_SECONDS = (366 * 86400, 31 * 86400, 7 * 86400, 86400, 3600, 60, 1)


def _bounded(rule: Any, until_seconds: int) -> Iterator[Any]:
    """The rule's instances up to until_seconds, COUNT counted here (dateutil takes COUNT or
    UNTIL, not both). Reads dateutil's rrule fields, which it has kept for years."""
    if rule._until is not None:  # compared as times: the two may differ in awareness
        until_seconds = min(until_seconds, seconds(rule._until))
    if rule._dtstart.tzinfo is not None:
        until = datetime.datetime.fromtimestamp(until_seconds, datetime.timezone.utc)
    else:
        until = datetime.datetime.fromtimestamp(until_seconds)
    for n, value in enumerate(rule.replace(count=None, until=until)):
        if rule._count is not None and n >= rule._count:
            return
        yield value


def _rule_instances(master: Any, horizon_end: int, most: int) -> Dict[int, Occurrence]:
    """DTSTART (the first instance, whether or not the rule matches it) unless an EXDATE names
    it, then the rules' and RDATEs' instances up to the horizon, EXDATEs taken out."""
    all_day = _is_day(master.dtstart.value)
    first = _key(master.dtstart.value, all_day)
    values: List[Any] = [master.dtstart.value]
    excluded = set()
    if "rrule" in master.contents or "rdate" in master.contents:
        rules = master.getrruleset(addRDate=True)
        for rule in rules._rrule:
            steps = _STEP_SECONDS[rule._freq] * max(1, rule._interval) * MAX_RULE_STEPS
            limit = min(horizon_end, first + steps) + 86400
            for n, value in enumerate(_bounded(rule, limit)):
                if n > most:
                    break
                values.append(value)
        values += rules._rdate
        excluded = {_key(v, all_day) for v in rules._exdate}
    excluded |= {_key(v, all_day) for p in master.contents.get("exdate", []) for v in p.value}
    found: Dict[int, Occurrence] = {}
    for value in values:
        key = _key(value, all_day)
        if key not in excluded and key not in found:
            found[key] = _times(master, value)
    return found


def expand(obj: CalendarObject, horizon_end: int, most: int = MAX_OCCURRENCES,
           work_seconds: Optional[float] = EXPANSION_SECONDS) -> List[Occurrence]:
    """The occurrences in time order: the first always, the others up to horizon_end and inside
    the 32-bit range, at most `most`. ValueError when there is none, or the first does not fit;
    ExpansionTooLong when the rules take more than work_seconds of processor time (None: any)."""
    try:
        with processor_seconds(work_seconds):
            by_original = _rule_instances(obj.master, horizon_end, most) \
                if obj.master is not None else {}
    except (TypeError, AttributeError, OverflowError) as e:  # e.g. DATE and DATE-TIME mixed
        raise ValueError("the recurrence cannot be expanded: %s" % e) from None
    # An override takes the place of the instance its RECURRENCE-ID names, or adds one.
    for event in obj.overrides:
        key = _key(event.recurrence_id.value, _is_day(event.dtstart.value))
        by_original[key] = _times(event, event.dtstart.value)
    if not by_original:
        raise ValueError("every instance is excluded")
    ordered = sorted(by_original.values(), key=lambda o: o.start)
    if not (_fits(ordered[0].start) and _fits(ordered[0].finish)):
        raise ValueError("a time outside 1901-12-13 to 2038-01-19")
    made = [ordered[0]]
    for o in ordered[1:]:
        if len(made) >= most:
            break
        if o.start <= horizon_end and _fits(o.start) and _fits(o.finish) and \
                o.start != made[-1].start:
            made.append(o)
    return made


def _fits(seconds: int) -> bool:
    return -2**31 <= seconds < 2**31
