"""A CalDAV client creates, reads, queries, updates and deletes 200 events of all shapes; after each
step it, the store and cvcal agree with the occurrences worked out here from the rules."""
import dataclasses
import datetime as dt
import unittest
from urllib.parse import unquote
from zoneinfo import ZoneInfo

from dateutil.rrule import rrulestr

import harness
from harness import FIRST_DAY

UTC, HOUR, DAY = dt.timezone.utc, dt.timedelta(hours=1), dt.timedelta(days=1)
# Test/Plus0530 is known only from its VTIMEZONE: it shows whether the object's own zone is read.
ZONES = {'Z': UTC, '': ZoneInfo(harness.ZONE), 'DATE': ZoneInfo(harness.ZONE),
         **{tzid: ZoneInfo(tzid) for tzid in ('Europe/Berlin', 'America/New_York')},
         'Test/Plus0530': dt.timezone(dt.timedelta(hours=5, minutes=30))}
# Each TZID's STANDARD and DAYLIGHT: first start, offset before and after, yearly rule.
PART = 'BEGIN:{0}\nDTSTART:{1}\nTZOFFSETFROM:{2}\nTZOFFSETTO:{3}\nRRULE:FREQ=YEARLY;{4}\nEND:{0}'
VTIMEZONES = {tzid: '\n'.join([f'BEGIN:VTIMEZONE\nTZID:{tzid}', *(PART.format(*p) for p in parts),
                               'END:VTIMEZONE']) for tzid, parts in {
    'Europe/Berlin': [('STANDARD', '19701025T030000', '+0200', '+0100', 'BYMONTH=10;BYDAY=-1SU'),
                      ('DAYLIGHT', '19700329T020000', '+0100', '+0200', 'BYMONTH=3;BYDAY=-1SU')],
    'America/New_York': [('STANDARD', '19701101T020000', '-0400', '-0500', 'BYMONTH=11;BYDAY=1SU'),
                         ('DAYLIGHT', '19700308T020000', '-0500', '-0400', 'BYMONTH=3;BYDAY=2SU')],
    'Test/Plus0530': [('STANDARD', '19700101T000000', '+0530', '+0530', 'BYMONTH=1')]}.items()}


@dataclasses.dataclass(frozen=True)
class Event:
    uid: str
    summary: str
    start: dt.datetime  # wall clock in ZONES[zone]; all-day: midnight of the first day
    length: dt.timedelta | None  # None: no DTEND (all-day: one day, else a moment)
    zone: str  # a TZID, 'Z' (UTC), '' (floating) or 'DATE' (all-day)
    rule: str = ''
    exdate: int | None = None  # the occurrence EXDATE takes out
    moved: bool = False  # the second occurrence overridden, an hour later
    duration: bool = False  # DURATION instead of DTEND

    def starts(self) -> list[dt.datetime]:
        # The store keeps the instances that begin before 00:00 UTC of the day after the 365th
        # day from today's (UTC): the whole of that day, whatever the time of the run.
        today = dt.datetime.now(UTC).date()
        horizon = dt.datetime.combine(today + 366 * DAY, dt.time(), UTC)
        rule = rrulestr(self.rule, dtstart=self.start) if self.rule else None
        return [s for s in rule.between(self.start, horizon, inc=True)
                if s < horizon] if rule else [self.start]

    def occurrences(self) -> list[tuple[int, int, str]]:
        """(start, finish, summary) of each appointment the store should hold, in time order."""
        found, all_day = [], self.zone == 'DATE'
        for k, start in enumerate(self.starts()):
            moved = self.moved and k == 1
            start += HOUR * moved
            finish = start + (self.length or DAY * all_day) - dt.timedelta(seconds=all_day)
            if k != self.exdate:
                found.append((int(start.timestamp()), int(finish.timestamp()),
                              self.summary + ' (moved)' * moved))
        return sorted(found)[:2000]

    def when(self, name: str, value: dt.datetime) -> str:
        if self.zone in ('DATE', 'Z'):
            return (f'{name};VALUE=DATE:{value:%Y%m%d}' if self.zone == 'DATE' else
                    f'{name}:{value.astimezone(UTC):%Y%m%dT%H%M%SZ}')
        return f'{name}{";TZID=" * bool(self.zone)}{self.zone}:{value:%Y%m%dT%H%M%S}'

    def vevent(self, start: dt.datetime, summary: str, *extra: str) -> list[str]:
        text = summary.replace('\\', '\\\\').replace(';', '\\;').replace(',', '\\,')
        end = (f'DURATION:PT{self.length // dt.timedelta(minutes=1)}M' if self.duration else
               self.when('DTEND', start + self.length)) if self.length else None
        return ['BEGIN:VEVENT', f'UID:{self.uid}', 'DTSTAMP:20261201T080000Z', *extra,
                self.when('DTSTART', start), 'SUMMARY:' + text.replace('\n', '\\n'),
                *[end] * bool(end), 'END:VEVENT']

    def ics(self) -> str:
        starts = self.starts()
        extra = [f'RRULE:{self.rule}'] if self.rule else []
        extra += [self.when('EXDATE', starts[self.exdate])] if self.exdate is not None else []
        lines = ['BEGIN:VCALENDAR', 'VERSION:2.0', 'PRODID:-//CVAICP//EN',
                 *([VTIMEZONES[self.zone]] if self.zone in VTIMEZONES else []),
                 *self.vevent(self.start, self.summary, *extra)]
        if self.moved:
            lines += self.vevent(starts[1] + HOUR, self.summary + ' (moved)',
                                 self.when('RECURRENCE-ID', starts[1]))
        return '\n'.join(lines + ['END:VCALENDAR', '']).replace('\n', '\r\n')


# Hour, zone, length and more of each shape; New York's 17:00 ends after Berlin's midnight.
SHAPES = [(7, 'Z', HOUR, {}), (9, 'Europe/Berlin', HOUR, {}),
          (17, 'America/New_York', 2 * HOUR, {}), (10, 'Test/Plus0530', HOUR / 2, {}),
          (14, '', HOUR, {}), (0, 'DATE', DAY, {}), (0, 'DATE', None, {}), (0, 'DATE', 3 * DAY, {}),
          (11, 'Europe/Berlin', None, {}), (13, 'America/New_York', 1.5 * HOUR, {'duration': True}),
          (8, 'Europe/Berlin', HOUR, {'rule': 'FREQ=DAILY;COUNT=5'}),
          (15, 'Europe/Berlin', HOUR, {'rule': 'FREQ=DAILY;COUNT=4', 'moved': True}),
          (0, 'DATE', DAY, {'rule': 'FREQ=WEEKLY;COUNT=3'}),
          (9, 'Europe/Berlin', HOUR, {'rule': 'FREQ=WEEKLY;UNTIL=+20', 'exdate': 2}),
          (9, 'America/New_York', HOUR, {'rule': 'FREQ=WEEKLY;UNTIL=+12'}),
          # Once each: a rule without end (cut at the horizon), and one past the 2000 cap.
          (9, 'Europe/Berlin', HOUR, {'rule': 'FREQ=WEEKLY'}),
          (6, 'Europe/Berlin', HOUR / 2, {'rule': 'FREQ=HOURLY;COUNT=2100'})]
SUMMARIES = ['plain {}', 'Café, Zürich; ☕ {}', 'two\nlines\tand a tab {}', 'ü' * 700 + ' {}']


def make_events(count: int = 200) -> dict[str, Event]:
    events = {}
    for i in range(count):
        shape = len(SHAPES) - 1 - i if i < 2 else i % (len(SHAPES) - 2)
        hour, zone, length, more = SHAPES[shape]
        start = dt.datetime.combine(FIRST_DAY + (i * 7) % 61 * DAY, dt.time(hour), ZONES[zone])
        rule, _, weeks = more.get('rule', '').partition('+')
        if weeks:  # UNTIL right on the occurrence N weeks on, which it includes
            until = (start + int(weeks) * 7 * DAY).astimezone(UTC)
            more = {**more, 'rule': f'{rule}{until:%Y%m%dT%H%M%SZ}'}
        uid = f'event-{i:03d}-shape-{shape}@cvaicp.test'
        events[uid] = Event(uid, SUMMARIES[i % 4].format(i), start, length, zone, **more)
    return events


class ClientTest(unittest.TestCase):
    def setUp(self):
        self.server = harness.Server()
        self.addCleanup(self.server.close)
        self.mailbox, self.calendar = harness.mailbox(), self.server.calendar()

    def check(self, events: dict[str, Event]) -> None:
        want, where = {}, ('--mailbox', 'anna', '--postoffice', 'example')
        for e in events.values():
            for k, (start, finish, summary) in enumerate(e.occurrences()):
                want[harness.master_id(e.uid) + f'-{start}' * bool(k)] = (start, finish, summary)
        self.assertEqual({(i, s, f, harness.period_of(s, f)) for i, (s, f, _) in want.items()},
                         harness.appointments(self.mailbox))
        for item_id, (_, _, summary) in want.items():  # headers are one line, cut at 1000 bytes
            subject = summary.replace('\n', ' ').replace('\t', ' ').encode()[:1000]
            item = (self.mailbox.read_item(item_id) or b'').split(b'\r\n\r\n')[0].split(b'\r\n')
            self.assertIn(b'Subject: ' + subject.decode(errors='ignore').encode(), item, item_id)
        dav = {str(e['UID']): (str(e['SUMMARY']), 'RRULE' in e, unquote(href))
               for e, href in ((harness.main_event(r.data), str(r.url).split('/')[-1])
                               for r in self.calendar.events())}
        self.assertEqual({e.uid: (e.summary, bool(e.rule), e.uid + '.ics')
                          for e in events.values()}, dav)
        self.assertEqual(set(dav), set(harness.exported(self.mailbox)))
        days = {dt.date.fromtimestamp(t) for v in want.values() for t in v[:2]} or {FIRST_DAY}
        listed = harness.cvcal('list', *where, '--from', str(min(days)), '--to', str(max(days)))
        self.assertEqual({(i, s, f) for i, (s, f, _) in want.items()}, {
            (a['id'], *(int(dt.datetime.fromisoformat(a[k]).timestamp()) for k in ('start', 'end')))
            for a in listed['appointments']})
        days = [dt.date.fromtimestamp(s) for s, f, _ in want.values()
                if len(harness.period_of(s, f)) == 9]  # only day-level periods count
        for month in {f'{d:%Y-%m}' for d in days} | {f'{FIRST_DAY:%Y-%m}'}:
            self.assertEqual({d.day for d in days if f'{d:%Y-%m}' == month}, set(harness.cvcal(
                'freebusy', *where, '--month', month)['busy_days']), month)
        # Time ranges from noon to noon, so that no all-day event sits on an edge.
        noon = dt.datetime.combine(FIRST_DAY, dt.time(12), ZONES[''])
        for first, days in [(0, 1), (10, 3), (40, 1), (150, 10)]:
            start, end = noon + first * DAY, noon + (first + days) * DAY
            low, high = start.timestamp(), end.timestamp()
            found = self.calendar.search(start=start, end=end, event=True, expand=False)
            self.assertEqual({e.uid for e in events.values() if any(
                s < high and (f > low or s == f >= low) for s, f, _ in e.occurrences())},
                {str(harness.main_event(r.data)['UID']) for r in found}, (first, days))

    def test_events_of_every_shape_through_their_life(self):
        events = make_events()
        for e in events.values():
            self.calendar.save_event(e.ics())
        self.check(events)
        resources = {str(harness.main_event(r.data)['UID']): r for r in self.calendar.events()}
        for uid, e in events.items():
            shift = DAY + dt.timedelta(minutes=0 if e.zone == 'DATE' else 30)
            events[uid] = dataclasses.replace(e, summary=e.summary + ' v2', start=e.start + shift)
            resources[uid].data = events[uid].ics()
            resources[uid].save()
        self.check(events)
        for step in (2, 1):  # every second one, then the rest
            for uid in sorted(events)[::step]:
                resources[uid].delete()
                del events[uid]
            self.check(events)


if __name__ == '__main__':
    unittest.main()
