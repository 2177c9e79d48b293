"""Clients and the mail server's hosts on the same periods. A host holds a period by the store's
protocol (its blocking file, the period file read, the new content written as the temporary copy,
then put in place): while a slow host holds it the server waits, as the hosts' configuration says,
and a host that died holding it is taken over once "Write Wait Timeout" has passed. Either way
the host's lines and items survive, the client's change is made once, and no blocking or
temporary file is left."""
import base64
import http.client
import os
import subprocess
import threading
import unittest

import harness

DAY = harness.FIRST_DAY
EVENT = harness.ICS.format(uid='client@example', day=DAY, summary='from a client')


class Host:
    """A host's change of one period: taken at start(), put in place at release()."""

    def __init__(self, calendar, period: str, line: bytes):
        self.calendar, self.period, self.line = calendar, period, line
        self.path = lambda ext: os.path.join(calendar, period + ext)

    def start(self) -> None:
        os.close(os.open(self.path('.BLK'), os.O_CREAT | os.O_EXCL | os.O_WRONLY))
        try:
            with open(self.path('.CAL'), 'rb') as f:
                old = f.read()
        except FileNotFoundError:
            old = b''
        with open(self.path('.TMP'), 'wb') as f:
            f.write(old + b'\r\n' + self.line if old else self.line)

    def release(self) -> None:
        os.replace(self.path('.TMP'), self.path('.CAL'))
        os.remove(self.path('.BLK'))


class HostsTest(unittest.TestCase):
    def setUp(self):
        self.server = None

    def tearDown(self):
        if self.server is not None:
            self.server.close()

    def serve(self, waits=None):
        self.server = harness.Server(waits=waits)
        self.calendar = self.server.root / 'example' / 'MAILROOT' / 'anna' / 'Calendar'
        self.calendar.mkdir(exist_ok=True)
        self.client = self.server.calendar()
        # The host's own appointment on the client's day, there before the host changes the
        # period again.
        start = int(harness.dt.datetime.combine(DAY, harness.dt.time(9)).timestamp())
        self.period = harness.period_of(start, start + 3600)
        (self.calendar / 'HOSTITEM').write_bytes(b'Subject: host\r\n\r\nbody')
        host = Host(self.calendar, self.period, b'%d\t%d\tHOSTITEM' % (start, start + 3600))
        host.start()
        host.release()
        self.line = b'%d\t%d\tHOSTLATE' % (start + 7200, start + 9000)
        return Host(self.calendar, self.period, self.line)

    def period_file(self) -> bytes:
        return (self.calendar / (self.period + '.CAL')).read_bytes()

    def assert_store_whole(self, *client_ids: str):
        lines = self.period_file().split(b'\r\n')
        self.assertEqual(1, sum(line.endswith(b'\tHOSTITEM') for line in lines))
        for item_id in client_ids:
            self.assertEqual(1, sum(line.endswith(b'\t' + item_id.encode()) for line in lines))
        self.assertTrue((self.calendar / 'HOSTITEM').is_file())
        self.assertEqual([], [p.name for p in self.calendar.iterdir()
                              if p.suffix.upper() in ('.BLK', '.TMP')])

    def while_held(self, host: Host, change) -> None:
        """The change, begun while the host holds the period; the host lets go after a moment,
        longer than one-second waits would wait before taking a period over. Meanwhile another
        user is served: the host lets go only after that user's answer, so a request held up
        behind the waiting change would never end."""
        host.start()
        done, failures = threading.Event(), []

        def work():
            try:
                change()
            except Exception as failure:  # the test's thread reports it
                failures.append(failure)
            done.set()

        worker = threading.Thread(target=work)
        worker.start()
        done.wait(1.5)
        response, _ = self.request('PROPFIND', '/example/ben/calendar/', '', 'ben@example',
                                   Depth='0')
        self.assertEqual(207, response.status)
        self.assertFalse(done.is_set(), 'the change did not wait for the host')
        done.wait(1.5)
        host.release()
        worker.join(60)
        if failures:
            raise failures[0]
        if worker.is_alive():
            raise AssertionError('the change did not end within a minute of the host letting go')

    def test_a_slow_host_is_waited_for(self):
        master = harness.master_id('client@example')
        for what in ('put', 'delete', 'import'):
            with self.subTest(what):
                host = self.serve()
                if what == 'delete':
                    self.client.save_event(EVENT)
                changes = {
                    'put': lambda: self.client.save_event(EVENT),
                    'delete': lambda: self.client.event_by_uid('client@example').delete(),
                    'import': lambda: subprocess.run(
                        [harness.CVCAL, 'import', '--mailbox', 'anna', '--postoffice', 'example',
                         '-'], input=EVENT.encode(), check=True, capture_output=True)}
                self.while_held(host, changes[what])
                self.assertIn(self.line, self.period_file())
                self.assert_store_whole(*(() if what == 'delete' else (master,)))
                if what == 'delete':
                    self.assertNotIn(master.encode(), self.period_file())
                self.tearDown()
                self.server = None

    def test_a_host_that_died_holding_a_period_is_taken_over(self):
        host = self.serve(waits=1)
        host.start()  # and never lets go
        self.client.save_event(EVENT)
        self.assertNotIn(self.line, self.period_file())
        self.assert_store_whole(harness.master_id('client@example'))

    def request(self, method: str, path: str, body: str, user='anna@example', **headers: str):
        link = http.client.HTTPConnection('127.0.0.1', self.server.port, timeout=60)
        login = base64.b64encode(('%s:%s' % (user, harness.PASSWORDS[user])).encode())
        link.request(method, path, body.encode(), {'Authorization': 'Basic ' + login.decode(),
                                                   **headers})
        response = link.getresponse()
        answer = response.read().decode()
        link.close()
        return response, answer

    def test_a_query_with_expand_answers_the_instances(self):
        self.serve()
        weekly = EVENT.replace('SUMMARY', 'RRULE:FREQ=WEEKLY;COUNT=4\r\nEXDATE:%sT140000Z\r\n'
                               'SUMMARY' % (DAY + harness.dt.timedelta(days=7)).strftime('%Y%m%d'))
        self.assertEqual(201, self.request('PUT', '/example/anna/calendar/w.ics', weekly,
                                           **{'Content-Type': 'text/calendar'})[0].status)
        low, high = DAY - harness.dt.timedelta(days=1), DAY + harness.dt.timedelta(days=40)
        query = ('<C:calendar-query xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">'
                 '<D:prop><C:calendar-data><C:expand start="%sT000000Z" end="%sT000000Z"/>'
                 '</C:calendar-data></D:prop><C:filter><C:comp-filter name="VCALENDAR">'
                 '<C:comp-filter name="VEVENT"><C:time-range start="%sT000000Z" end="%sT000000Z"/>'
                 '</C:comp-filter></C:comp-filter></C:filter></C:calendar-query>') % (
                     low.strftime('%Y%m%d'), high.strftime('%Y%m%d'), low.strftime('%Y%m%d'),
                     high.strftime('%Y%m%d'))
        response, answer = self.request('REPORT', '/example/anna/calendar/', query, Depth='1',
                                        **{'Content-Type': 'text/xml'})
        self.assertEqual(207, response.status)
        # The host's own appointment answers too, as the one event it is.
        self.assertEqual(3, answer.count('UID:client@example'))
        self.assertEqual(3, answer.count('RECURRENCE-ID'))
        self.assertNotIn('RRULE', answer)

    def test_a_period_that_cannot_be_had_is_answered_503_and_nothing_changes(self):
        self.serve(waits=1)
        # A blocking file that cannot be taken over: the period stays held past every wait.
        (self.calendar / (self.period + '.BLK')).mkdir()
        before = self.server.files()
        response = self.request('PUT', '/example/anna/calendar/client.ics', EVENT,
                                **{'Content-Type': 'text/calendar'})[0]
        self.assertEqual(503, response.status)
        self.assertTrue(response.getheader('Retry-After', '').isdigit())
        self.assertEqual(before, self.server.files())


if __name__ == '__main__':
    unittest.main()
