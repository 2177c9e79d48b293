"""calendar-data with C:expand in a REPORT (RFC 4791 9.6.5): each object as its instances in the
asked range, one VEVENT each with its RECURRENCE-ID and its times in UTC, and no RRULE, RDATE or
EXDATE. Radicale's REPORT gives the objects as they are stored; this turns its answer's
calendar-data into the expansion the client asked for. The walk through a rule is held to the
storage's bound on processor time, as Radicale's own walks are (time_ranges.py)."""
import copy
from datetime import datetime, timedelta
from typing import Optional, Tuple

import vobject
from dateutil import tz
from radicale import xmlutils
from radicale.app import report

from .refusals import Refused
from .work_bound import ExpansionTooLong, processor_seconds

_original = report.xml_report
_seconds: Optional[float] = None
_RULES = ("rrule", "rdate", "exdate", "exrule")
UTC = tz.tzutc()  # the zone vobject writes as "Z"


def _utc(value):
    """A DATE stays a DATE; a DATE-TIME in UTC (a floating one read as UTC, as the filter does)."""
    if isinstance(value, datetime):
        if value.tzinfo is None:
            return value.replace(tzinfo=UTC)
        return value.astimezone(UTC)
    return value


def _moment(value) -> datetime:
    if isinstance(value, datetime):
        return _utc(value)
    return datetime(value.year, value.month, value.day, tzinfo=UTC)


def _span(event) -> Tuple[object, timedelta]:
    start = event.dtstart.value
    if "dtend" in event.contents:
        return start, _moment(event.dtend.value) - _moment(start)
    if "duration" in event.contents:
        return start, event.duration.value
    return start, timedelta(days=1) if not isinstance(start, datetime) else timedelta(0)


def _instance(event, start, length: timedelta, recurrence_id) -> vobject.base.Component:
    """The event as one instance: its times in UTC, no rules, the instance's RECURRENCE-ID."""
    one = copy.deepcopy(event)
    for name in _RULES + ("dtstart", "dtend", "duration", "recurrence-id"):
        one.contents.pop(name, None)
    one.add("dtstart").value = _utc(start)
    end = _utc(start) + length if isinstance(start, datetime) else start + length
    one.add("dtend").value = end
    if recurrence_id is not None:
        one.add("recurrence-id").value = _utc(recurrence_id)
    return one


def _meets(start, length: timedelta, low: datetime, high: datetime) -> bool:
    begin = _moment(start)
    return begin < high and (begin + length > low or (length == timedelta(0) and begin >= low))


def expand_calendar(text: str, low: datetime, high: datetime) -> str:
    """The VCALENDAR text's events as their instances that meet [low, high)."""
    calendar = vobject.readOne(text)
    events = list(getattr(calendar, "vevent_list", []))
    out = vobject.iCalendar()
    overrides = {}
    for event in events:
        if "recurrence-id" in event.contents:
            overrides[_moment(event.recurrence_id.value)] = event
    for event in events:
        if "recurrence-id" in event.contents:
            continue
        start, length = _span(event)
        if not any(name in event.contents for name in _RULES[:2]):
            if _meets(start, length, low, high):
                out.add(_instance(event, start, length, None))
            continue
        all_day = not isinstance(start, datetime)
        for when in event.getrruleset(addRDate=True):
            if _moment(when) >= high:
                break
            if all_day:
                when = when.date()  # the rule gives an all-day event's days as midnights
            override = overrides.pop(_moment(when), None)
            source = override if override is not None else event
            own_start, own_length = _span(source) if override is not None else (when, length)
            if _meets(own_start, own_length, low, high):
                out.add(_instance(source, own_start, own_length, when))
    # Overrides of instances the rule no longer has, or moved from outside the range into it.
    for recurrence_id, override in overrides.items():
        start, length = _span(override)
        if _meets(start, length, low, high):
            out.add(_instance(override, start, length, recurrence_id))
    for name in ("version", "prodid"):
        if name in calendar.contents:
            out.contents[name] = calendar.contents[name]
    return out.serialize()


def _expand_range(xml_request) -> Optional[Tuple[datetime, datetime]]:
    if xml_request is None:
        return None
    expand = xml_request.find(".//%s/%s" % (xmlutils.make_clark("C:calendar-data"),
                                            xmlutils.make_clark("C:expand")))
    if expand is None:
        return None
    try:
        low, high = (datetime.strptime(expand.get(name, ""), "%Y%m%dT%H%M%SZ").replace(
            tzinfo=UTC) for name in ("start", "end"))
    except ValueError:
        raise ValueError("C:expand needs start and end in UTC (20261207T000000Z)") from None
    if high <= low:
        raise ValueError("C:expand: the end is not after the start")
    return low, high


def _xml_report(base_prefix, path, xml_request, collection, encoding, unlock_storage_fn):
    window = _expand_range(xml_request)
    status, multistatus = _original(base_prefix, path, xml_request, collection, encoding,
                                    unlock_storage_fn)
    if window is None:
        return status, multistatus
    for element in multistatus.iter(xmlutils.make_clark("C:calendar-data")):
        if element.text:
            try:
                with processor_seconds(_seconds):
                    element.text = expand_calendar(element.text, *window)
            except ExpansionTooLong as e:
                raise Refused("the expansion of an object: %s" % e) from None
    return status, multistatus


def install(seconds: Optional[float]) -> None:
    global _seconds
    _seconds = seconds
    report.xml_report = _xml_report


__all__ = ["expand_calendar", "install"]
