"""What every CalDAV test needs: a store of its own with the server over it, cvcal, and views
of the store worked out here, apart from the binding where they can be."""
import datetime as dt
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from passlib.hash import bcrypt

# The server, cvcal and the tests name periods by the same local dates; a zone with summer time
# shows more than UTC would.
ZONE = 'Europe/Berlin'
os.environ['TZ'] = ZONE
time.tzset()
PYTHON = '/usr/bin/python3'
_REPO = Path(__file__).resolve().parents[2]
_NATIVE = _REPO / 'build' / 'native'
CVCAL = os.environ.get('CVCAL', str(_NATIVE / 'bin' / 'cvcal'))
os.environ.setdefault('CVAICP_LIBRARY', str(_NATIVE / 'lib' / 'libcvaicp.so'))
os.environ.setdefault('PYTHONPATH', str(_REPO / 'python'))
sys.path.extend(os.environ['PYTHONPATH'].split(os.pathsep))
PASSWORDS = {'anna@example': 'anna-secret', 'ben@example': 'ben-secret'}


def wait_for(condition, what: str, seconds: float = 60.0):
    deadline = time.monotonic() + seconds
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f'timed out waiting for {what}')
        time.sleep(0.02)
    return result


class Server:
    """Mailboxes anna and ben of postoffice example, their users file, and the launcher serving
    them on a free loopback port until close()."""

    def __init__(self, horizon_days: int = 365):
        self.dir = Path(tempfile.mkdtemp(prefix='cvaicp-caldav-'))
        self.root = self.dir / 'root'
        for box in ('anna', 'ben'):
            (self.root / 'example' / 'MAILROOT' / box).mkdir(parents=True)
        users = self.dir / 'users'
        # Few rounds: every request checks the password, and the tests make thousands.
        users.write_text(''.join(f'{user}:{bcrypt.using(rounds=4).hash(password)}\n'
                                 for user, password in PASSWORDS.items()))
        os.environ['CVAICP_REGISTRY'] = str(self.dir / 'store.reg')
        cvcal('config', 'set-root', str(self.root), parse=False)
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        self.url = f'http://127.0.0.1:{self.port}/'
        self.log = self.dir / 'server.log'
        with open(self.log, 'wb') as log:
            self.process = subprocess.Popen(
                [PYTHON, '-m', 'radicale_cvaicp.serve', '--store', str(self.root), '--users',
                 str(users), '--port', str(self.port), '--horizon-days', str(horizon_days),
                 '--state', str(self.dir / 'state')],
                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            wait_for(lambda: b'serving' in self.log.read_bytes() or self.process.poll() is not None,
                     'the server')
            assert self.process.poll() is None, self.log.read_text(errors='replace')
        except BaseException:
            self.close()
            raise

    def collection(self, box: str = 'anna') -> str:
        return f'{self.url}example/{box}/calendar/'

    def close(self) -> None:
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        if not os.environ.get('CVAICP_KEEP_TEST_DIRS'):
            shutil.rmtree(self.dir, ignore_errors=True)


_library = None


def mailbox(box: str = 'anna'):
    """A mailbox of the store the first Server made: the library reads its root once."""
    global _library
    import cvaicp
    _library = _library or cvaicp.Library()
    return _library.mailbox('example', box)


def cvcal(*args: str, parse: bool = True):
    done = subprocess.run([CVCAL, '--json', *args], capture_output=True, text=True, check=False)
    assert done.returncode == 0, f'cvcal {" ".join(args)}: {done.returncode} {done.stderr}'
    return json.loads(done.stdout) if parse else done.stdout


def cvcal_list(first: dt.date, last: dt.date) -> set:
    """(id, start, finish) of what cvcal lists in anna's calendar between two local days."""
    listed = cvcal('list', '--mailbox', 'anna', '--postoffice', 'example',
                   '--from', first.isoformat(), '--to', last.isoformat())
    return {(a['id'], int(dt.datetime.fromisoformat(a['start']).timestamp()),
             int(dt.datetime.fromisoformat(a['end']).timestamp())) for a in listed['appointments']}


def cvcal_busy_days(month: str) -> set:
    return set(cvcal('freebusy', '--mailbox', 'anna', '--postoffice', 'example',
                     '--month', month)['busy_days'])


def appointments(box) -> set:
    """(id, start, finish, period) of every line of every period file."""
    return {(a.item_id, a.start, a.finish, period)
            for period in box.period_names() for a in box.walk(period)}


def master_id(uid: str) -> str:
    def fnv(data: bytes) -> str:
        h = 0xcbf29ce484222325
        for byte in data:
            h = ((h ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
        return f'{h:016X}'
    return 'IC' + fnv(uid.encode()) + fnv(b'cvaicp:' + uid.encode())


def period_of(start: int, finish: int) -> str:
    first, last = dt.datetime.fromtimestamp(start), dt.datetime.fromtimestamp(finish)
    if first.year != last.year:
        return 'Y'
    name = f'Y{first.year % 100:02d}'
    if first.month == last.month:
        name += f'M{first.month:02d}' + (f'D{first.day:02d}' if first.day == last.day else '')
    return name


def header(item: bytes, name: str) -> str | None:
    for line in item.split(b'\r\n\r\n', 1)[0].decode().split('\r\n'):
        if line.startswith(name + ': '):
            return line[len(name) + 2:]
    return None


def tree(folder: Path) -> dict:
    """Every file under folder with its bytes, to compare before and after."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob('*') if p.is_file()}
