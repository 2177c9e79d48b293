"""A real CalDAV client creates, reads, queries by time range, updates and deletes 200 events of
every shape; after each step what the client reads back, the store (objects, period lines and
item files) and cvcal (list, free/busy) agree with occurrences worked out here from the rules."""
import dataclasses
import datetime as dt
import time
import unittest
from urllib.parse import unquote
from zoneinfo import ZoneInfo

import caldav
from dateutil.rrule import rrulestr

import harness

UTC = dt.timezone.utc
LOCAL = ZoneInfo(harness.ZONE)
HORIZON_DAYS = 365
# Test/Plus0530 is known only from its VTIMEZONE, so it shows whether the object's own zone is read.
ZONES = {'Z': UTC, '': LOCAL, 'DATE': LOCAL, 'Europe/Berlin': ZoneInfo('Europe/Berlin'),
         'America/New_York': ZoneInfo('America/New_York'),
         'Test/Plus0530': dt.timezone(dt.timedelta(hours=5, minutes=30))}
# TZID: standard offset, then summer offset, its first start and rule, standard's start and rule.
VTIMEZONES = {
    'Europe/Berlin': ('+0100', '+0200', '19700329T020000', 'BYMONTH=3;BYDAY=-1SU',
                      '19701025T030000', 'BYMONTH=10;BYDAY=-1SU'),
    'America/New_York': ('-0500', '-0400', '19700308T020000', 'BYMONTH=3;BYDAY=2SU',
                         '19701101T020000', 'BYMONTH=11;BYDAY=1SU'),
    'Test/Plus0530': ('+0530', None, None, None, '19700101T000000', None)}
HOUR = dt.timedelta(hours=1)


def vtimezone(tzid: str) -> list[str]:
    std, summer, summer_start, summer_rule, std_start, std_rule = VTIMEZONES[tzid]
    parts = [('STANDARD', summer or std, std, std_start, std_rule)]
    parts += [('DAYLIGHT', std, summer, summer_start, summer_rule)] if summer else []
    lines = ['BEGIN:VTIMEZONE', f'TZID:{tzid}']
    for kind, before, after, start, rule in parts:
        lines += [f'BEGIN:{kind}', f'DTSTART:{start}', f'TZOFFSETFROM:{before}',
                  f'TZOFFSETTO:{after}'] + ([f'RRULE:FREQ=YEARLY;{rule}'] if rule else [])
        lines.append(f'END:{kind}')
    return lines + ['END:VTIMEZONE']


@dataclasses.dataclass(frozen=True)
class Event:
    uid: str
    summary: str
    start: dt.datetime  # wall clock in ZONES[zone]; midnight of the first day when all-day
    length: dt.timedelta | None  # None: no DTEND (all-day: one day; else no length at all)
    zone: str = 'Europe/Berlin'  # a TZID, 'Z' (UTC), '' (floating) or 'DATE' (all-day)
    rule: str = ''
    exdate: int | None = None  # which occurrence EXDATE takes out
    moved: bool = False  # the second occurrence is overridden, an hour later
    duration: bool = False  # the length as DURATION rather than DTEND

    def starts(self, now: float) -> list[dt.datetime]:
        if not self.rule:
            return [self.start]
        horizon = dt.datetime.fromtimestamp(now, UTC) + dt.timedelta(days=HORIZON_DAYS)
        return rrulestr(self.rule, dtstart=self.start).between(self.start, horizon, inc=True)

    def occurrences(self, now: float) -> list[tuple[int, int, str]]:
        """(start, finish, summary) of each appointment the store should hold, in time order."""
        found = []
        for k, start in enumerate(self.starts(now)):
            summary = self.summary + (' (moved)' if self.moved and k == 1 else '')
            start += HOUR if self.moved and k == 1 else dt.timedelta()
            if self.zone == 'DATE':
                finish = start + (self.length or dt.timedelta(days=1)) - dt.timedelta(seconds=1)
            else:
                finish = start + (self.length or dt.timedelta())
            if k != self.exdate:
                found.append((int(start.timestamp()), int(finish.timestamp()), summary))
        return sorted(found)[:2000]

    def dtstart(self) -> dt.date | dt.datetime:
        """DTSTART as a client reads it back."""
        if self.zone == 'DATE':
            return self.start.date()
        return self.start.replace(tzinfo=None) if self.zone == '' else self.start

    def when(self, name: str, value: dt.datetime) -> str:
        if self.zone == 'DATE':
            return f'{name};VALUE=DATE:{value:%Y%m%d}'
        if self.zone == 'Z':
            return f'{name}:{value.astimezone(UTC):%Y%m%dT%H%M%SZ}'
        return f'{name}{";TZID=" + self.zone if self.zone else ""}:{value:%Y%m%dT%H%M%S}'

    def vevent(self, start: dt.datetime, summary: str, extra: list[str]) -> list[str]:
        text = summary.replace('\\', '\\\\').replace(';', '\\;').replace(',', '\\,')
        lines = ['BEGIN:VEVENT', f'UID:{self.uid}', 'DTSTAMP:20261201T080000Z',
                 self.when('DTSTART', start), 'SUMMARY:' + text.replace('\n', '\\n')]
        if self.length and self.duration:
            lines.append(f'DURATION:PT{int(self.length.total_seconds()) // 60}M')
        elif self.length:
            lines.append(self.when('DTEND', start + self.length))
        return lines + extra + ['END:VEVENT']

    def ics(self) -> str:
        lines = ['BEGIN:VCALENDAR', 'VERSION:2.0', 'PRODID:-//CVAICP//CalDAV tests//EN']
        lines += vtimezone(self.zone) if self.zone in VTIMEZONES else []
        starts = self.starts(time.time())
        extra = [f'RRULE:{self.rule}'] if self.rule else []
        extra += [self.when('EXDATE', starts[self.exdate])] if self.exdate is not None else []
        lines += self.vevent(self.start, self.summary, extra)
        if self.moved:
            lines += self.vevent(starts[1] + HOUR, self.summary + ' (moved)',
                                 [self.when('RECURRENCE-ID', starts[1])])
        return '\r\n'.join(lines + ['END:VCALENDAR', ''])


def until(start: dt.datetime, weeks: int) -> str:
    """An UNTIL that falls exactly on an occurrence, which it includes."""
    return f'UNTIL={(start + dt.timedelta(weeks=weeks)).astimezone(UTC):%Y%m%dT%H%M%SZ}'


def at(day: dt.date, hour: int, zone: str) -> dt.datetime:
    return dt.datetime.combine(day, dt.time(hour), ZONES[zone])


# Each shape from the first local day it touches; New York's 17:00 ends after Berlin's midnight.
SHAPES = [
    lambda d: dict(start=at(d, 7, 'Z'), length=HOUR, zone='Z'),
    lambda d: dict(start=at(d, 9, 'Europe/Berlin'), length=HOUR),
    lambda d: dict(start=at(d, 17, 'America/New_York'), length=2 * HOUR, zone='America/New_York'),
    lambda d: dict(start=at(d, 10, 'Test/Plus0530'), length=HOUR / 2, zone='Test/Plus0530'),
    lambda d: dict(start=at(d, 14, ''), length=HOUR, zone=''),
    lambda d: dict(start=at(d, 0, 'DATE'), length=dt.timedelta(days=1), zone='DATE'),
    lambda d: dict(start=at(d, 0, 'DATE'), length=None, zone='DATE'),
    lambda d: dict(start=at(d, 0, 'DATE'), length=dt.timedelta(days=3), zone='DATE'),
    lambda d: dict(start=at(d, 11, 'Europe/Berlin'), length=None),
    lambda d: dict(start=at(d, 13, 'America/New_York'), length=1.5 * HOUR, duration=True,
                   zone='America/New_York'),
    lambda d: dict(start=at(d, 8, 'Europe/Berlin'), length=HOUR, rule='FREQ=DAILY;COUNT=5'),
    lambda d: dict(start=at(d, 9, 'Europe/Berlin'), length=HOUR, exdate=2,
                   rule='FREQ=WEEKLY;' + until(at(d, 9, 'Europe/Berlin'), 20)),
    lambda d: dict(start=at(d, 9, 'America/New_York'), length=HOUR, zone='America/New_York',
                   rule='FREQ=WEEKLY;' + until(at(d, 9, 'America/New_York'), 12)),
    lambda d: dict(start=at(d, 15, 'Europe/Berlin'), length=HOUR, moved=True,
                   rule='FREQ=DAILY;COUNT=4'),
    lambda d: dict(start=at(d, 0, 'DATE'), length=dt.timedelta(days=1), zone='DATE',
                   rule='FREQ=WEEKLY;COUNT=3'),
    # Once each: a rule without end (cut at the horizon), and one past the 2000 cap.
    lambda d: dict(start=at(d, 9, 'Europe/Berlin'), length=HOUR, rule='FREQ=WEEKLY'),
    lambda d: dict(start=at(d, 6, 'Europe/Berlin'), length=HOUR / 2, rule='FREQ=HOURLY;COUNT=2100'),
]
SUMMARIES = ['plain {}', 'Café, Zürich; ☕ {}', 'two\nlines\tand a tab {}', 'ü' * 700 + ' {}']


def make_events(count: int = 200) -> dict[str, Event]:
    first = dt.date.today() + dt.timedelta(days=7)
    events = {}
    for i in range(count):
        shape = len(SHAPES) - 1 - i if i < 2 else i % (len(SHAPES) - 2)
        uid = f'event-{i:03d}-shape-{shape}@cvaicp.test'
        fields = SHAPES[shape](first + dt.timedelta(days=(i * 7) % 61))
        events[uid] = Event(uid=uid, summary=SUMMARIES[i % len(SUMMARIES)].format(i), **fields)
    return events


def subject(summary: str) -> str:
    flat = summary.replace('\r', ' ').replace('\n', ' ').replace('\t', ' ')
    return flat.encode()[:1000].decode(errors='ignore')


def master(component_owner) -> dict:
    return next(c for c in component_owner.icalendar_instance.walk('VEVENT')
                if 'RECURRENCE-ID' not in c)


class ClientTest(unittest.TestCase):
    def setUp(self):
        self.server = harness.Server(horizon_days=HORIZON_DAYS)
        self.addCleanup(self.server.close)
        self.mailbox = harness.mailbox()
        client = caldav.DAVClient(self.server.url, username='anna@example',
                                  password=harness.PASSWORDS['anna@example'])
        self.calendar = client.calendar(url=self.server.collection())

    def check(self, events: dict[str, Event]) -> None:
        from cvaicp import icalendar_store
        now, want = time.time(), {}
        for e in events.values():
            for k, (start, finish, summary) in enumerate(e.occurrences(now)):
                mid = harness.master_id(e.uid)
                want[mid if k == 0 else f'{mid}-{start}'] = (start, finish, summary)
        lines = {(i, s, f, harness.period_of(s, f)) for i, (s, f, _) in want.items()}
        self.assertEqual(lines, harness.appointments(self.mailbox))
        for item_id, (_, _, summary) in want.items():
            item = self.mailbox.read_item(item_id)
            self.assertEqual(subject(summary), item and harness.header(item, 'Subject'), item_id)

        dav = {}
        for resource in self.calendar.events():
            event = master(resource)
            dav[str(event['UID'])] = (str(event['SUMMARY']), event['DTSTART'].dt,
                                      'RRULE' in event, unquote(str(resource.url).rsplit('/')[-1]))
        self.assertEqual({e.uid: (e.summary, e.dtstart(), bool(e.rule), e.uid + '.ics')
                          for e in events.values()}, dav)
        stored = {o.uid: (o.master_id, o.href) for o in icalendar_store.objects(self.mailbox)}
        self.assertEqual({uid: (harness.master_id(uid), dav[uid][3]) for uid in dav}, stored)

        if want:
            first = min(dt.date.fromtimestamp(s) for s, _, _ in want.values())
            last = max(dt.date.fromtimestamp(f) for _, f, _ in want.values())
            self.assertEqual({(i, s, f) for i, (s, f, _) in want.items()},
                             harness.cvcal_list('anna', first, last))
        days = [dt.datetime.fromtimestamp(s) for s, f, _ in want.values()
                if len(harness.period_of(s, f)) == 9]
        for month in {f'{d:%Y-%m}' for d in days} | {f'{dt.date.today():%Y-%m}'}:
            self.assertEqual({d.day for d in days if f'{d:%Y-%m}' == month},
                             harness.cvcal_busy_days('anna', month), month)

    def check_queries(self, events: dict[str, Event]) -> None:
        """Time ranges from noon to noon, so that no all-day event sits on an edge."""
        noon = dt.datetime.combine(dt.date.today() + dt.timedelta(days=7), dt.time(12), LOCAL)
        for first, days in [(0, 1), (10, 3), (40, 1), (150, 10)]:
            start, end = noon + dt.timedelta(days=first), noon + dt.timedelta(days=first + days)
            low, high = start.timestamp(), end.timestamp()
            want = {e.uid for e in events.values()
                    if any(s < high and (f > low or s == f >= low)
                           for s, f, _ in e.occurrences(time.time()))}
            found = self.calendar.search(start=start, end=end, event=True, expand=False)
            self.assertEqual(want, {str(master(r)['UID']) for r in found}, (first, days))

    def test_events_of_every_shape_through_their_life(self):
        events = make_events()
        for e in events.values():
            self.calendar.save_event(e.ics())
        self.check(events)
        self.check_queries(events)

        resources = {}
        for uid, e in events.items():
            resources[uid] = self.calendar.event_by_uid(uid)
            self.assertEqual(e.summary, str(master(resources[uid])['SUMMARY']))
        for uid, e in events.items():
            shift = dt.timedelta(days=1, minutes=0 if e.zone == 'DATE' else 30)
            events[uid] = dataclasses.replace(e, summary=e.summary + ' v2', start=e.start + shift)
            resources[uid].data = events[uid].ics()
            resources[uid].save()
        self.check(events)
        self.check_queries(events)

        for uid in sorted(events)[::2]:
            resources[uid].delete()
            del events[uid]
        self.check(events)
        for uid in list(events):
            resources[uid].delete()
            del events[uid]
        self.check(events)


if __name__ == '__main__':
    unittest.main()
