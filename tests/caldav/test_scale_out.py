"""Two door processes over one store and one state folder, each on a port of its own: clients
writing through both at once lose nothing, and both doors give the same etags and sync tokens."""
import base64
import contextlib
import http.client
import threading
import unittest
from urllib.parse import quote
from xml.etree import ElementTree as ET

import harness

CAL = '/example/anna/calendar/'
LOGIN = 'Basic ' + base64.b64encode(b'anna@example:' +
                                    harness.PASSWORDS['anna@example'].encode()).decode()
SYNC = ('<D:sync-collection xmlns:D="DAV:"><D:sync-token>{}</D:sync-token>'
        '<D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop></D:sync-collection>')


def request(server: harness.Server, method: str, path: str, body: str = '',
            **headers: str) -> tuple[int, str]:
    with contextlib.closing(http.client.HTTPConnection('127.0.0.1', server.port)) as link:
        link.request(method, path, body.encode(), {'Authorization': LOGIN, **headers})
        response = link.getresponse()
        return response.status, response.read().decode()


def state(server: harness.Server, token: str = '') -> tuple[str, dict]:
    """A sync-collection report: the new token, and each named href's etag (None: gone)."""
    status, answer = request(server, 'REPORT', CAL, SYNC.format(token),
                             **{'Content-Type': 'text/xml', 'Depth': '1'})
    assert status == 207, answer
    root = ET.fromstring(answer)
    found = {r.findtext('{DAV:}href'): r.findtext('.//{DAV:}getetag')
             for r in root.iter('{DAV:}response')}
    return root.findtext('{DAV:}sync-token'), found


class ScaleOutTest(unittest.TestCase):
    def test_two_doors_on_one_store_lose_nothing_and_agree(self):
        first = harness.Server()
        self.addCleanup(first.close)
        second = harness.Server(share=first)
        self.addCleanup(second.close)
        start, _ = state(first)
        written, kept, failures = set(), set(), []

        def write(writer: int) -> None:
            """Puts through both doors in turn, deletes every fifth again; a busy store (503)
            is asked again, as a client would."""
            for n in range(24):
                server, uid = (first, second)[n % 2], f'w{writer}-{n}@cvaicp.test'
                text = harness.ICS.format(uid=uid, summary=f'writer {writer} #{n}',
                                          day=harness.FIRST_DAY)
                for method, body in [('PUT', text)] + [('DELETE', '')] * (n % 5 == 0):
                    for _ in range(20):
                        status, answer = request(server, method, f'{CAL}{uid}.ics', body,
                                                 **{'Content-Type': 'text/calendar'})
                        if status != 503:
                            break
                    if status not in (200, 201, 204):
                        failures.append((method, uid, status, answer))
                written.add(quote(f'{CAL}{uid}.ics'))
                if n % 5:
                    kept.add(quote(f'{CAL}{uid}.ics'))

        writers = [threading.Thread(target=write, args=(w,)) for w in range(4)]
        for t in writers:
            t.start()
        for t in writers:
            t.join()
        self.assertEqual([], failures)
        views = [state(server) for server in (first, second)]
        self.assertEqual(views[0], views[1])
        self.assertEqual(kept, set(views[0][1]))
        self.assertEqual(kept, {quote(CAL + harness.main_event(r.data)['UID'] + '.ics')
                                for r in first.calendar().events()})
        # A token of either door is the other's: the change log is one.
        for server in (first, second):
            token, changed = state(server, start)
            self.assertEqual(views[0][0], token)
            self.assertEqual(views[0][1], {h: e for h, e in changed.items() if e is not None})
            # Gone since: at most what was written and deleted (a token is a state, and one
            # written and deleted before the state came back to it never differed from it).
            self.assertLessEqual({h for h, e in changed.items() if e is None}, written - kept)
        self.assertEqual(201, request(first, 'PUT', f'{CAL}late.ics', harness.ICS.format(
            uid='late', summary='late', day=harness.FIRST_DAY))[0])
        token, changed = state(second, views[0][0])
        self.assertEqual([f'{CAL}late.ics'], list(changed))
        self.assertEqual(token, state(first, views[0][0])[0])


if __name__ == '__main__':
    unittest.main()
