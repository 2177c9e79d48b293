"""One corpus through both doors: cvcal import into one store, the CalDAV door (a PUT per object
over HTTP) into another. The Calendar folders come out the same, byte for byte, but for the Date
header of an object that brings no DTSTAMP (it is the time of the write), the order of the lines
in a period file and the store's backup copies of period files (both follow the order of the
writes).

The corpus: this project's own calendars (the events of every shape that test_clients makes) and
the real-world calendars of python3-icalendar's tests. Some of those are malformed on purpose,
and Radicale refuses an object it cannot parse before the storage sees it (400), where libical
takes what it can: of such a file, only the objects the door took are imported."""
import base64
import contextlib
import glob
import http.client
import re
import subprocess
import unittest
from pathlib import Path

import harness
import test_clients

REAL_WORLD = sorted(glob.glob('/usr/lib/python3/dist-packages/icalendar/tests/*.ics'))
LOGIN = 'Basic ' + base64.b64encode(b'anna@example:' +
                                    harness.PASSWORDS['anna@example'].encode()).decode()


def unfolded(text: str) -> list[str]:
    return re.sub(r'\r?\n[ \t]', '', text).splitlines()


def objects(text: str) -> list[tuple[str, str, bool]]:
    """The file's VEVENTs by UID, each as a VCALENDAR of its own with the file's properties and
    time zones, cut from the text as it is: (UID, text, whether every VEVENT has a DTSTAMP)."""
    found: dict[str, list] = {}
    head, zones, block, depth = [], [], [], 0
    for line in unfolded(text):
        name = line.split(':', 1)[0].upper()
        if name in ('BEGIN', 'END') and line.split(':', 1)[1].upper() == 'VCALENDAR':
            continue
        if name == 'BEGIN':
            depth += 1
        if depth == 0:
            head.append(line)
        else:
            block.append(line)
        if name == 'END':
            depth -= 1
            if depth == 0:
                kind = block[0].split(':', 1)[1].upper()
                if kind == 'VTIMEZONE':
                    zones += block
                elif kind == 'VEVENT':
                    uid = next((b.split(':', 1)[1] for b in block
                                if re.match(r'UID[;:]', b, re.I)), '')
                    found.setdefault(uid, []).append(block)
                block = []
    return [(uid, '\r\n'.join(['BEGIN:VCALENDAR', *head, *zones,
                               *(line for event in events for line in event),
                               'END:VCALENDAR', '']),
             all(any(re.match(r'DTSTAMP[;:]', b, re.I) for b in e) for e in events))
            for uid, events in found.items()]


def corpus() -> dict[str, str]:
    files = {f'shape-{n:03d}.ics': e.ics()
             for n, e in enumerate(test_clients.make_events().values())}
    for path in REAL_WORLD:
        files[Path(path).name] = Path(path).read_bytes().decode('utf-8', 'replace')
    return files


def folder(root: Path, stampless: set[str]) -> dict[str, object]:
    """The Calendar folder: item files (their Date header masked for objects without DTSTAMP)
    and period files (their lines as a set)."""
    found = {}
    for path in sorted((root / 'example' / 'MAILROOT' / 'anna' / 'Calendar').iterdir()):
        data = path.read_bytes()
        if path.suffix.upper() == '.CAL':
            found[path.name] = sorted(data.split(b'\r\n'))
        elif path.suffix.upper() == '.BAK':
            continue
        elif path.name.partition('-')[0] in stampless:
            found[path.name] = re.sub(rb'\r\nDate: [^\r]*\r\n', b'\r\nDate: -\r\n', data, 1)
        elif not path.name.startswith('_'):  # the store's own markers
            found[path.name] = data
    return found


class DifferentialTest(unittest.TestCase):
    def test_import_and_the_door_make_the_same_calendar_folder(self):
        self.assertTrue(REAL_WORLD, 'python3-icalendar brings its test calendars')
        server = harness.Server()
        self.addCleanup(server.close)
        imported = server.dir / 'imported'
        (imported / 'example' / 'MAILROOT' / 'anna').mkdir(parents=True)
        registry = str(server.dir / 'imported.reg')
        cvcal = [harness.CVCAL, '--registry', registry]
        subprocess.run([*cvcal, 'config', 'set-root', str(imported)], check=True,
                       capture_output=True)
        stampless, taken, compared = set(), 0, 0
        for name, text in corpus().items():
            with self.subTest(name):
                parts, refused_by_radicale = objects(text), []
                for uid, object_text, stamped in parts:
                    master = harness.master_id(uid)
                    if not stamped:
                        stampless.add(master)
                    # At the name the catalogue gives an object of no name of its own, so that
                    # the door stores none either.
                    with contextlib.closing(http.client.HTTPConnection(
                            '127.0.0.1', server.port)) as link:
                        link.request('PUT', f'/example/anna/calendar/{master}.ics',
                                     object_text.encode(), {'Authorization': LOGIN,
                                                            'Content-Type': 'text/calendar'})
                        status = link.getresponse().status
                    self.assertIn(status, (201, 204, 400, 403), uid)
                    taken += status in (201, 204)
                    if status == 400:
                        refused_by_radicale.append(uid)
                if refused_by_radicale:
                    text = 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n' + ''.join(
                        t.split('\r\n', 1)[1].rsplit('END:VCALENDAR', 1)[0]
                        for uid, t, _ in parts if uid not in refused_by_radicale) + \
                        'END:VCALENDAR\r\n'
                compared += len(parts) - len(refused_by_radicale)
                (server.dir / name).write_text(text, newline='')
                done = subprocess.run([*cvcal, 'import', str(server.dir / name), '--mailbox',
                                       'anna', '--postoffice', 'example'], capture_output=True)
                self.assertIn(done.returncode, (0, 1), done.stderr)  # 1: an object refused
        self.assertGreater(taken, 200)  # the shapes and most real-world objects
        self.assertGreaterEqual(compared, taken)
        self.assertEqual(folder(imported, stampless), folder(server.root, stampless))


if __name__ == '__main__':
    unittest.main()
