"""vdirsyncer keeps a local folder and the calendar in step both ways while cvcal and a writer
process change the same mailbox; after every step the store, what CalDAV serves and what khal
lists from the folder agree, and once the writers stop nothing they left is lost."""
import datetime as dt
import json
import select
import subprocess
import sys
import unittest

import caldav
import icalendar

import harness

FIRST_DAY = dt.date.today() + dt.timedelta(days=7)
ICS = ('BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//CVAICP//sync test//EN\r\nBEGIN:VEVENT\r\n'
       'UID:{uid}\r\nDTSTAMP:20261201T080000Z\r\nDTSTART:{day:%Y%m%d}T140000Z\r\n'
       'DTEND:{day:%Y%m%d}T150000Z\r\nSUMMARY:{summary}\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n')
VDIRSYNCER = '''[general]\nstatus_path = "{dir}/status/"
[pair anna]\na = "local"\nb = "dav"\ncollections = null
[storage local]\ntype = "filesystem"\npath = "{dir}/local/"\nfileext = ".ics"
[storage dav]\ntype = "caldav"\nurl = "{url}"\nusername = "anna@example"\npassword = "{password}"
'''
KHAL = '''[calendars]\n[[anna]]\npath = {dir}/local/\ntype = calendar\n[sqlite]\npath = {dir}/khal.db
[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d
datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M
local_timezone = {zone}\ndefault_timezone = {zone}
'''


def summaries(texts) -> dict[str, str]:
    """UID to SUMMARY of each calendar text's main event."""
    events = (next(e for e in icalendar.Calendar.from_ical(text).walk('VEVENT')
                   if 'RECURRENCE-ID' not in e) for text in texts)
    return {str(e['UID']): str(e.get('SUMMARY', '')) for e in events}


def writer() -> None:
    """Adds appointments through the binding and drops the oldest, as a host would; at each
    command ("pause", "resume", "stop") it tells what it has left."""
    mailbox, live, n, paused, changes = harness.mailbox(), {}, 0, False, 0
    first = int(dt.datetime.combine(FIRST_DAY, dt.time(8)).timestamp())
    while True:
        # A few changes at least between two commands, however fast the test runs.
        if (paused or changes >= 3) and select.select([sys.stdin], [], [], None if paused else 0.05)[0]:
            command = sys.stdin.readline().strip()
            print(json.dumps({item: f'writer {item}' for item in live}), flush=True)
            if command not in ('pause', 'resume'):
                return
            paused, changes = command == 'pause', 0
            continue
        n, changes = n + 1, changes + 1
        item, start = f'W{n:05d}', first + 3600 * (n % 500)
        period = harness.period_of(start, start + 1800)
        head = f'Subject: writer {item}\r\nDate: Mon, 07 Dec 2026 09:00:00 +0000\r\n\r\n'
        if not (mailbox.write_item(item, head.encode()) and
                mailbox.add(period, start, start + 1800, item)):
            sys.exit(f'writer: cannot add {item}')
        live[item] = period
        if len(live) > 20:
            old = min(live)
            if not mailbox.remove(live.pop(old), old):
                sys.exit(f'writer: cannot remove {old}')
            mailbox.delete_item(old)


class SyncTest(unittest.TestCase):
    def setUp(self):
        self.server = harness.Server()
        self.addCleanup(self.server.close)
        self.dir, self.local = self.server.dir, self.server.dir / 'local'
        self.local.mkdir()
        (self.dir / 'vdirsyncer.conf').write_text(VDIRSYNCER.format(
            dir=self.dir, url=self.server.collection(), password=harness.PASSWORDS['anna@example']))
        (self.dir / 'khal.conf').write_text(KHAL.format(dir=self.dir, zone=harness.ZONE))
        self.run_tool('vdirsyncer', '-c', str(self.dir / 'vdirsyncer.conf'), 'discover')
        self.expected: dict[str, str] = {}

    def run_tool(self, *args: str, check: bool = True) -> str:
        done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=600, check=False)
        self.assertEqual(0 if check else done.returncode, done.returncode, done.stderr)
        return done.stdout

    def sync(self, check: bool = True) -> None:
        self.run_tool('vdirsyncer', '-c', str(self.dir / 'vdirsyncer.conf'), 'sync', check=check)

    def write_local(self, uid: str, summary: str, day: int) -> None:
        files = {uid: path for path in self.local.glob('*.ics')
                 for uid in summaries([path.read_bytes()])}
        path = files.get(uid, self.local / f'{uid}.ics')
        if summary:
            path.write_text(ICS.format(uid=uid, summary=summary,
                                       day=FIRST_DAY + dt.timedelta(days=day)), newline='')
            self.expected[uid] = summary
        else:
            path.unlink()
            del self.expected[uid]

    def host(self, command: str, item: str, day: int) -> None:
        start = dt.datetime.combine(FIRST_DAY + dt.timedelta(days=day), dt.time(10))
        harness.cvcal(command, '--mailbox', 'anna', '--postoffice', 'example', '--id', item,
                      '--start', f'{start:%Y-%m-%dT%H:%M}', '--end', f'{start:%Y-%m-%dT11:00}',
                      *(['--subject', f'host {item}'] if command == 'add' else []))
        if command == 'add':
            self.expected[item] = f'host {item}'
        else:
            del self.expected[item]

    def check_views(self, written: dict[str, str]) -> None:
        from cvaicp import icalendar_store
        box = harness.mailbox()
        objects = icalendar_store.objects(box)
        self.assertEqual({o.master_id for o in objects}, {a[0] for a in harness.appointments(box)})
        store = summaries(o.ics_text for o in objects)
        self.assertEqual({**self.expected, **written}, store)
        calendar = caldav.DAVClient(self.server.url, username='anna@example', password=harness
                                    .PASSWORDS['anna@example']).calendar(url=self.server.collection())
        self.assertEqual(store, summaries(e.data for e in calendar.events()))
        listed = self.run_tool('khal', '-c', str(self.dir / 'khal.conf'), 'list', '--once',
                               '--format', '{uid}\t{title}', '--day-format', '', str(FIRST_DAY),
                               str(FIRST_DAY + dt.timedelta(days=30)))
        self.assertEqual(store, dict(line.split('\t', 1) for line in listed.splitlines() if line))

    def test_two_way_sync_beside_host_writers(self):
        for n in range(4):
            self.host('add', f'C{n}', n)
            self.write_local(f'local-{n}@cvaicp.test', f'local {n}', n)
        self.sync()
        self.check_views({})
        writer_process = subprocess.Popen([harness.PYTHON, __file__, 'writer'], text=True,
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(lambda: (writer_process.kill(), writer_process.communicate()))

        def tell(command: str) -> dict[str, str]:
            writer_process.stdin.write(command + '\n')
            writer_process.stdin.flush()
            line = writer_process.stdout.readline()
            if not line:
                self.fail(f'the writer ended with {writer_process.wait()}')
            return json.loads(line)

        for step in range(4):
            # Every side changes something and one sync runs while the writer works: its PUTs
            # may then meet a period file the writer holds, so only the paused sync must pass.
            self.host('add', f'C{10 + step}', step)
            if step < 2:
                self.host('remove', f'C{step}', step)
            self.write_local(f'local-{10 + step}@cvaicp.test', f'local new {step}', step + 1)
            self.write_local(f'local-{step}@cvaicp.test', f'local {step} edited', step)
            if step != 1:  # a host's appointment, edited by the client
                self.write_local('C2' if step == 0 else f'C{8 + step}', f'edited {step}', step)
            if step > 1:
                self.write_local(f'local-{9 + step}@cvaicp.test', '', 0)
            self.sync(check=False)
            written = tell('pause')
            self.sync()
            self.check_views(written)
            tell('resume')
        written = tell('stop')
        self.assertEqual(0, writer_process.wait(60))
        self.sync()
        self.check_views(written)


if __name__ == '__main__':
    if sys.argv[1:] == ['writer']:
        writer()
    else:
        unittest.main()
