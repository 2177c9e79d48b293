"""A CalDAV client creates, reads, queries by time range, updates and deletes 200 events of every
shape; after each step what it reads back, the store (objects, period lines, item files) and cvcal
(list, free/busy) agree with the occurrences worked out here from the rules."""
import dataclasses
import datetime as dt
import time
import unittest
from urllib.parse import unquote
from zoneinfo import ZoneInfo

import caldav
from dateutil.rrule import rrulestr

import harness

UTC, LOCAL, HOUR, DAY = dt.timezone.utc, ZoneInfo(harness.ZONE), dt.timedelta(hours=1), dt.timedelta(1)
FIRST_DAY = dt.date.today() + 7 * DAY
# Test/Plus0530 is known only from its VTIMEZONE: it shows whether the object's own zone is read.
ZONES = {'Z': UTC, '': LOCAL, 'DATE': LOCAL, 'Europe/Berlin': ZoneInfo('Europe/Berlin'),
         'America/New_York': ZoneInfo('America/New_York'),
         'Test/Plus0530': dt.timezone(dt.timedelta(hours=5, minutes=30))}
# Per TZID, STANDARD and DAYLIGHT: first start, offset before, offset after, yearly rule.
VTIMEZONES = {
    'Europe/Berlin': [('19701025T030000', '+0200', '+0100', 'BYMONTH=10;BYDAY=-1SU'),
                      ('19700329T020000', '+0100', '+0200', 'BYMONTH=3;BYDAY=-1SU')],
    'America/New_York': [('19701101T020000', '-0400', '-0500', 'BYMONTH=11;BYDAY=1SU'),
                         ('19700308T020000', '-0500', '-0400', 'BYMONTH=3;BYDAY=2SU')],
    'Test/Plus0530': [('19700101T000000', '+0530', '+0530', '')]}


def vtimezone(tzid: str) -> list[str]:
    lines = ['BEGIN:VTIMEZONE', f'TZID:{tzid}']
    for kind, (start, before, after, rule) in zip(('STANDARD', 'DAYLIGHT'), VTIMEZONES[tzid]):
        lines += [f'BEGIN:{kind}', f'DTSTART:{start}', f'TZOFFSETFROM:{before}',
                  f'TZOFFSETTO:{after}', *([f'RRULE:FREQ=YEARLY;{rule}'] if rule else []),
                  f'END:{kind}']
    return lines + ['END:VTIMEZONE']


@dataclasses.dataclass(frozen=True)
class Event:
    uid: str
    summary: str
    start: dt.datetime  # wall clock in ZONES[zone]; all-day: midnight of the first day
    length: dt.timedelta | None  # None: no DTEND (all-day: one day, else a moment)
    zone: str = 'Europe/Berlin'  # a TZID, 'Z' (UTC), '' (floating) or 'DATE' (all-day)
    rule: str = ''
    exdate: int | None = None  # the occurrence EXDATE takes out
    moved: bool = False  # the second occurrence overridden, an hour later
    duration: bool = False  # DURATION instead of DTEND

    def starts(self) -> list[dt.datetime]:
        horizon = dt.datetime.now(UTC) + 365 * DAY
        return rrulestr(self.rule, dtstart=self.start).between(
            self.start, horizon, inc=True) if self.rule else [self.start]

    def occurrences(self) -> list[tuple[int, int, str]]:
        """(start, finish, summary) of each appointment the store should hold, in time order."""
        found = []
        for k, start in enumerate(self.starts()):
            moved = self.moved and k == 1
            start += HOUR if moved else 0 * HOUR
            length = self.length or (DAY if self.zone == 'DATE' else 0 * DAY)
            finish = start + length - dt.timedelta(seconds=1 if self.zone == 'DATE' else 0)
            if k != self.exdate:
                found.append((int(start.timestamp()), int(finish.timestamp()),
                              self.summary + ' (moved)' * moved))
        return sorted(found)[:2000]

    def dtstart(self) -> dt.date | dt.datetime:
        """DTSTART as a client reads it back."""
        if self.zone == 'DATE':
            return self.start.date()
        return self.start.replace(tzinfo=None) if self.zone == '' else self.start

    def when(self, name: str, value: dt.datetime) -> str:
        if self.zone in ('DATE', 'Z'):
            return (f'{name};VALUE=DATE:{value:%Y%m%d}' if self.zone == 'DATE' else
                    f'{name}:{value.astimezone(UTC):%Y%m%dT%H%M%SZ}')
        return f'{name}{";TZID=" * bool(self.zone)}{self.zone}:{value:%Y%m%dT%H%M%S}'

    def vevent(self, start: dt.datetime, summary: str, extra: list[str]) -> list[str]:
        text = summary.replace('\\', '\\\\').replace(';', '\\;').replace(',', '\\,')
        lines = ['BEGIN:VEVENT', f'UID:{self.uid}', 'DTSTAMP:20261201T080000Z',
                 self.when('DTSTART', start), 'SUMMARY:' + text.replace('\n', '\\n')]
        if self.length:
            lines.append(f'DURATION:PT{self.length // dt.timedelta(minutes=1)}M' if self.duration
                         else self.when('DTEND', start + self.length))
        return lines + extra + ['END:VEVENT']

    def ics(self) -> str:
        starts = self.starts()
        extra = [f'RRULE:{self.rule}'] if self.rule else []
        extra += [self.when('EXDATE', starts[self.exdate])] if self.exdate is not None else []
        lines = ['BEGIN:VCALENDAR', 'VERSION:2.0', 'PRODID:-//CVAICP//CalDAV tests//EN',
                 *(vtimezone(self.zone) if self.zone in VTIMEZONES else []),
                 *self.vevent(self.start, self.summary, extra)]
        if self.moved:
            lines += self.vevent(starts[1] + HOUR, self.summary + ' (moved)',
                                 [self.when('RECURRENCE-ID', starts[1])])
        return '\r\n'.join(lines + ['END:VCALENDAR', ''])


def weekly_until(day: dt.date, hour: int, zone: str, weeks: int) -> dict:
    """An UNTIL that falls exactly on an occurrence, which it includes."""
    start = dt.datetime.combine(day, dt.time(hour), ZONES[zone])
    last = (start + weeks * 7 * DAY).astimezone(UTC)
    return dict(start=start, length=HOUR, zone=zone, rule=f'FREQ=WEEKLY;UNTIL={last:%Y%m%dT%H%M%SZ}')


# Each shape from a local day; New York's 17:00 ends after Berlin's midnight.
SHAPES = [(7, 'Z', HOUR, {}), (9, 'Europe/Berlin', HOUR, {}),
          (17, 'America/New_York', 2 * HOUR, {}), (10, 'Test/Plus0530', HOUR / 2, {}),
          (14, '', HOUR, {}), (0, 'DATE', DAY, {}), (0, 'DATE', None, {}), (0, 'DATE', 3 * DAY, {}),
          (11, 'Europe/Berlin', None, {}), (13, 'America/New_York', 1.5 * HOUR, {'duration': True}),
          (8, 'Europe/Berlin', HOUR, {'rule': 'FREQ=DAILY;COUNT=5'}),
          (15, 'Europe/Berlin', HOUR, {'rule': 'FREQ=DAILY;COUNT=4', 'moved': True}),
          (0, 'DATE', DAY, {'rule': 'FREQ=WEEKLY;COUNT=3'}),
          lambda d: dict(weekly_until(d, 9, 'Europe/Berlin', 20), exdate=2),
          lambda d: weekly_until(d, 9, 'America/New_York', 12),
          # Once each: a rule without end (cut at the horizon), and one past the 2000 cap.
          (9, 'Europe/Berlin', HOUR, {'rule': 'FREQ=WEEKLY'}),
          (6, 'Europe/Berlin', HOUR / 2, {'rule': 'FREQ=HOURLY;COUNT=2100'})]
SUMMARIES = ['plain {}', 'Café, Zürich; ☕ {}', 'two\nlines\tand a tab {}', 'ü' * 700 + ' {}']


def make_events(count: int = 200) -> dict[str, Event]:
    events = {}
    for i in range(count):
        shape = len(SHAPES) - 1 - i if i < 2 else i % (len(SHAPES) - 2)
        day = FIRST_DAY + (i * 7) % 61 * DAY
        if callable(SHAPES[shape]):
            fields = SHAPES[shape](day)
        else:
            hour, zone, length, more = SHAPES[shape]
            fields = dict(start=dt.datetime.combine(day, dt.time(hour), ZONES[zone]),
                          length=length, zone=zone, **more)
        uid = f'event-{i:03d}-shape-{shape}@cvaicp.test'
        events[uid] = Event(uid=uid, summary=SUMMARIES[i % len(SUMMARIES)].format(i), **fields)
    return events


def master(resource) -> dict:
    return next(c for c in resource.icalendar_instance.walk('VEVENT') if 'RECURRENCE-ID' not in c)


class ClientTest(unittest.TestCase):
    def setUp(self):
        self.server = harness.Server()
        self.addCleanup(self.server.close)
        self.mailbox = harness.mailbox()
        self.calendar = caldav.DAVClient(
            self.server.url, username='anna@example', password=harness.PASSWORDS['anna@example']
        ).calendar(url=self.server.collection())

    def check(self, events: dict[str, Event]) -> None:
        from cvaicp import icalendar_store
        want = {}
        for e in events.values():
            for k, (start, finish, summary) in enumerate(e.occurrences()):
                mid = harness.master_id(e.uid)
                want[f'{mid}-{start}' if k else mid] = (start, finish, summary)
        self.assertEqual({(i, s, f, harness.period_of(s, f)) for i, (s, f, _) in want.items()},
                         harness.appointments(self.mailbox))
        for item_id, (_, _, summary) in want.items():
            flat = summary.replace('\n', ' ').replace('\t', ' ').encode()[:1000]
            item = self.mailbox.read_item(item_id) or b''
            self.assertEqual(flat.decode(errors='ignore'), harness.header(item, 'Subject'), item_id)

        dav = {str(master(r)['UID']): (str(master(r)['SUMMARY']), master(r)['DTSTART'].dt,
                                       'RRULE' in master(r), unquote(str(r.url).split('/')[-1]))
               for r in self.calendar.events()}
        self.assertEqual({e.uid: (e.summary, e.dtstart(), bool(e.rule), e.uid + '.ics')
                          for e in events.values()}, dav)
        self.assertEqual({uid: (harness.master_id(uid), dav[uid][3]) for uid in dav},
                         {o.uid: (o.master_id, o.href) for o in icalendar_store.objects(self.mailbox)})

        if want:
            first = min(dt.date.fromtimestamp(s) for s, _, _ in want.values())
            last = max(dt.date.fromtimestamp(f) for _, f, _ in want.values())
            self.assertEqual({(i, s, f) for i, (s, f, _) in want.items()},
                             harness.cvcal_list(first, last))
        days = [dt.date.fromtimestamp(s) for s, f, _ in want.values()
                if len(harness.period_of(s, f)) == 9]
        for month in {f'{d:%Y-%m}' for d in days} | {f'{FIRST_DAY:%Y-%m}'}:
            self.assertEqual({d.day for d in days if f'{d:%Y-%m}' == month},
                             harness.cvcal_busy_days(month), month)

    def check_queries(self, events: dict[str, Event]) -> None:
        """Ranges from noon to noon, so that no all-day event sits on an edge."""
        noon = dt.datetime.combine(FIRST_DAY, dt.time(12), LOCAL)
        for first, days in [(0, 1), (10, 3), (40, 1), (150, 10)]:
            start, end = noon + first * DAY, noon + (first + days) * DAY
            low, high = start.timestamp(), end.timestamp()
            want = {e.uid for e in events.values() if any(
                s < high and (f > low or s == f >= low) for s, f, _ in e.occurrences())}
            found = self.calendar.search(start=start, end=end, event=True, expand=False)
            self.assertEqual(want, {str(master(r)['UID']) for r in found}, (first, days))

    def test_events_of_every_shape_through_their_life(self):
        events = make_events()
        for e in events.values():
            self.calendar.save_event(e.ics())
        self.check(events)
        self.check_queries(events)

        resources = {str(master(r)['UID']): r for r in self.calendar.events()}
        for uid in sorted(events)[::10]:  # each a REPORT of its own, which costs a full read
            resources[uid] = self.calendar.event_by_uid(uid)
            self.assertEqual(events[uid].summary, str(master(resources[uid])['SUMMARY']))
        for uid, e in events.items():
            shift = DAY + (0 if e.zone == 'DATE' else 30) * dt.timedelta(minutes=1)
            events[uid] = dataclasses.replace(e, summary=e.summary + ' v2', start=e.start + shift)
            resources[uid].data = events[uid].ics()
            resources[uid].save()
        self.check(events)
        self.check_queries(events)

        for step in (2, 1):  # every second one, then the rest
            for uid in sorted(events)[::step]:
                resources[uid].delete()
                del events[uid]
            self.check(events)


if __name__ == '__main__':
    unittest.main()
