"""What every CalDAV test needs: a store of its own, the server over it, cvcal, and the store's
own views of a mailbox, computed here independently of the binding where they can be."""
import datetime as dt
import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from passlib.hash import bcrypt

# The server, cvcal and this process must name periods by the same local dates; a zone with
# summer time shows more than UTC would.
ZONE = 'Europe/Berlin'
os.environ['TZ'] = ZONE
time.tzset()

PYTHON = '/usr/bin/python3'
REPO = Path(__file__).resolve().parents[2]
_NATIVE = REPO / 'build' / 'native'
if not (_NATIVE / 'bin' / 'cvcal').exists():
    _NATIVE = Path('/work/main/build/native')  # the same code, until this tree is built
CVCAL = os.environ.get('CVCAL', str(_NATIVE / 'bin' / 'cvcal'))
os.environ.setdefault('CVAICP_LIBRARY', str(_NATIVE / 'lib' / 'libcvaicp.so'))
os.environ.setdefault('PYTHONPATH', str(REPO / 'python'))
sys.path.extend(os.environ['PYTHONPATH'].split(os.pathsep))
PASSWORDS = {'anna@example': 'anna-secret', 'ben@example': 'ben-secret'}


def wait_for(condition, what: str, seconds: float = 30.0):
    """Polls until condition() answers something true, and gives that back."""
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f'timed out waiting for {what}')
        time.sleep(0.02)


class Server:
    """A mail root with mailboxes anna and ben under postoffice example, its users file, and the
    launcher serving it on a free loopback port until close()."""

    def __init__(self, horizon_days: int = 365):
        self.dir = Path(tempfile.mkdtemp(prefix='cvaicp-caldav-'))
        self.root = self.dir / 'root'
        for box in ('anna', 'ben'):
            (self.root / 'example' / 'MAILROOT' / box).mkdir(parents=True)
        self.users = self.dir / 'users'
        # Few rounds: every request checks the password, and the tests make thousands.
        self.users.write_text(''.join(f'{user}:{bcrypt.using(rounds=4).hash(password)}\n'
                                      for user, password in PASSWORDS.items()))
        os.environ['CVAICP_REGISTRY'] = str(self.dir / 'store.reg')
        cvcal('config', 'set-root', str(self.root), parse=False)
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        self.url = f'http://127.0.0.1:{self.port}/'
        self.log = open(self.dir / 'server.log', 'wb')
        self.process = subprocess.Popen(
            [PYTHON, '-m', 'radicale_cvaicp.serve', '--store', str(self.root), '--users',
             str(self.users), '--host', '127.0.0.1', '--port', str(self.port),
             '--horizon-days', str(horizon_days), '--state', str(self.dir / 'state')],
            stdout=subprocess.PIPE, stderr=self.log, start_new_session=True)
        lines: queue.Queue = queue.Queue()
        threading.Thread(target=self._drain, args=(lines,), daemon=True).start()
        try:
            deadline = time.monotonic() + 60
            while True:
                line = lines.get(timeout=max(0.0, deadline - time.monotonic()))
                if line is None:
                    raise AssertionError('the launcher ended:\n' + self.log_text())
                if line.startswith(b'serving'):
                    break
        except BaseException:
            self.close()
            raise

    def _drain(self, lines: queue.Queue) -> None:
        for line in self.process.stdout:
            lines.put(line)
            self.log.write(line)
        lines.put(None)

    def log_text(self) -> str:
        self.log.flush()
        return (self.dir / 'server.log').read_text(errors='replace')[-4000:]

    def collection(self, box: str = 'anna') -> str:
        return f'{self.url}example/{box}/calendar/'

    def close(self) -> None:
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()
        if not os.environ.get('CVAICP_KEEP_TEST_DIRS'):
            shutil.rmtree(self.dir, ignore_errors=True)


_library = None


def mailbox(box: str = 'anna'):
    """A mailbox of the store that the last Server made (the library reads its root once)."""
    global _library
    import cvaicp
    if _library is None:
        _library = cvaicp.Library()
    return _library.mailbox('example', box)


def cvcal(*args: str, parse: bool = True):
    done = subprocess.run([CVCAL, '--json', *args], capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise AssertionError(f'cvcal {" ".join(args)}: {done.returncode} {done.stderr}')
    return json.loads(done.stdout) if parse else done.stdout


def cvcal_list(box: str, first: dt.date, last: dt.date) -> set:
    """(id, start, finish) of what cvcal lists between two local days."""
    listed = cvcal('list', '--mailbox', box, '--postoffice', 'example',
                   '--from', first.isoformat(), '--to', last.isoformat())
    return {(a['id'], int(dt.datetime.fromisoformat(a['start']).timestamp()),
             int(dt.datetime.fromisoformat(a['end']).timestamp()))
            for a in listed['appointments']}


def cvcal_busy_days(box: str, month: str) -> set:
    return set(cvcal('freebusy', '--mailbox', box, '--postoffice', 'example',
                     '--month', month)['busy_days'])


def appointments(mailbox) -> set:
    """(id, start, finish, period) of every line of every period file."""
    return {(a.item_id, a.start, a.finish, period)
            for period in mailbox.period_names() for a in mailbox.walk(period)}


def master_id(uid: str) -> str:
    def fnv(data: bytes) -> str:
        h = 0xcbf29ce484222325
        for byte in data:
            h = ((h ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
        return f'{h:016X}'
    return 'IC' + fnv(uid.encode()) + fnv(b'cvaicp:' + uid.encode())


def period_of(start: int, finish: int) -> str:
    first, last = dt.datetime.fromtimestamp(start), dt.datetime.fromtimestamp(finish)
    name = 'Y' if first.year != last.year else f'Y{first.year % 100:02d}'
    if first.year == last.year and first.month == last.month:
        name += f'M{first.month:02d}' + (f'D{first.day:02d}' if first.day == last.day else '')
    return name


def header(item: bytes, name: str) -> str | None:
    for line in item.split(b'\r\n\r\n', 1)[0].decode().split('\r\n'):
        if line.startswith(name + ': '):
            return line[len(name) + 2:]
    return None


def tree(folder: Path) -> dict:
    """Every file under folder with its bytes: a snapshot to compare before and after."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob('*'))
            if p.is_file()}
