"""What every CalDAV test needs: a store of its own with the server over it, cvcal, and views
of the store worked out here, apart from the binding where they can be."""
import datetime as dt
import functools
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import caldav
import icalendar
from passlib.hash import bcrypt

# The server, cvcal and the tests name periods by the same local dates; a zone with summer time
# shows more than UTC would.
ZONE = os.environ['TZ'] = 'Europe/Berlin'
time.tzset()
PYTHON, _NATIVE = '/usr/bin/python3', Path(__file__).resolve().parents[2] / 'build' / 'native'
CVCAL = os.environ.get('CVCAL', str(_NATIVE / 'bin' / 'cvcal'))
os.environ.setdefault('CVAICP_LIBRARY', str(_NATIVE / 'lib' / 'libcvaicp.so'))
os.environ.setdefault('CVAICP_ICALENDAR_LIBRARY', str(_NATIVE / 'lib' / 'libcvaicp_icalendar.so'))
os.environ.setdefault('PYTHONPATH', str(_NATIVE.parents[1] / 'python'))
sys.path.extend(os.environ['PYTHONPATH'].split(os.pathsep))
PASSWORDS = {'anna@example': 'anna-secret', 'ben@example': 'ben-secret'}
FIRST_DAY = dt.date.today() + dt.timedelta(days=7)  # the events' first day
ICS = ('BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//CVAICP//EN\r\nBEGIN:VEVENT\r\nUID:{uid}\r\n'
       'DTSTAMP:20261201T080000Z\r\nDTSTART:{day:%Y%m%d}T140000Z\r\nDTEND:{day:%Y%m%d}T150000Z'
       '\r\nSUMMARY:{summary}\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n')


class Server:
    """Mailboxes anna and ben (postoffice example) served on a free loopback port until close();
    with `share`, a second server process over the other's store and state folder."""

    def __init__(self, share: 'Server | None' = None, waits: int = None):
        """`waits`: the store's four waits for blocking files, in seconds; its defaults if None."""
        self.folder = tempfile.TemporaryDirectory(prefix='cvaicp-caldav-')
        self.dir = Path(self.folder.name)
        self.root, users, self.log = self.dir / 'root', self.dir / 'users', self.dir / 'server.log'
        state, self.registry = self.dir / 'state', self.dir / 'store.reg'
        if share is not None:
            self.root, users, state = share.root, share.dir / 'users', share.dir / 'state'
            self.registry = share.registry
        else:
            for box in ('anna', 'ben'):
                (self.root / 'example' / 'MAILROOT' / box).mkdir(parents=True)
            # Few rounds: every request checks the password, and the tests make thousands.
            users.write_text(''.join(f'{user}:{bcrypt.using(rounds=4).hash(password)}\n'
                                     for user, password in PASSWORDS.items()))
            os.environ['CVAICP_REGISTRY'] = str(self.registry)
            cvcal('config', 'set-root', str(self.root), parse=False)
            if waits is not None:
                cvcal('config', 'set-waits', str(waits), parse=False)
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        self.url = f'http://127.0.0.1:{self.port}/'
        self.collection = f'{self.url}example/anna/calendar/'
        with open(self.log, 'wb') as log:
            self.process = subprocess.Popen(
                # The store's own configuration, as the mail server's hosts read it.
                [PYTHON, '-m', 'radicale_cvaicp.serve', '--registry', str(self.registry),
                 '--users', str(users), '--port', str(self.port), '--state', str(state)],
                stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while b'serving' not in self.log.read_bytes():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise AssertionError('the server did not start:\n' + self.log.read_text())
            time.sleep(0.02)

    def files(self) -> dict:
        return {p: p.read_bytes() for p in self.root.rglob('*') if p.is_file()}

    def calendar(self) -> caldav.Calendar:
        return caldav.DAVClient(self.url, username='anna@example', password=PASSWORDS[
            'anna@example']).calendar(url=self.collection)

    def close(self) -> None:
        self.process.kill()  # Radicale runs in the launcher's own process
        self.process.wait()
        self.folder.cleanup()


@functools.cache
def mailbox():
    """Anna's mailbox in the store the first Server made: the library reads its root once."""
    import cvaicp
    return cvaicp.Library().mailbox('example', 'anna')


def cvcal(*args: str, parse: bool = True):
    done = subprocess.run([CVCAL, '--json', *args], capture_output=True, text=True, check=False)
    assert done.returncode == 0, f'cvcal {" ".join(args)}: {done.returncode} {done.stderr}'
    return json.loads(done.stdout) if parse else done.stdout


def appointments(box) -> set:  # (id, start, finish, period) of every line of every period file
    return {(a.item_id, a.start, a.finish, p) for p in box.period_names() for a in box.walk(p)}


def exported(box) -> dict:
    """The store's objects as cvcal exports them (the engine, not the door): UID: main event."""
    text = cvcal('export', '--mailbox', box.name, '--postoffice', box.postoffice)['calendar']
    events = icalendar.Calendar.from_ical(text).walk('VEVENT')
    return {str(e['UID']): e for e in events if 'RECURRENCE-ID' not in e}


def object_ids(box) -> dict:
    """Each exported object's appointment id: its master id, or for a host's appointment (whose
    UID is its id) that id."""
    lines = {line[0] for line in appointments(box)}
    return {uid: uid if uid in lines else master_id(uid) for uid in exported(box)}


def master_id(uid: str) -> str:
    def fnv(data: bytes) -> str:
        h = 0xcbf29ce484222325
        for byte in data:
            h = ((h ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
        return f'{h:016X}'
    return 'IC' + fnv(uid.encode()) + fnv(b'cvaicp:' + uid.encode())


def period_of(start: int, finish: int) -> str:
    first, last = dt.datetime.fromtimestamp(start), dt.datetime.fromtimestamp(finish)
    same = [first.year == last.year, first.month == last.month, first.day == last.day]
    return first.strftime(['Y', 'Y%y', 'Y%yM%m', 'Y%yM%mD%d'][(same + [False]).index(False)])


def main_event(text: str) -> icalendar.Event:  # the one that overrides no instance
    return next(e for e in icalendar.Calendar.from_ical(text).walk('VEVENT')
                if 'RECURRENCE-ID' not in e)

