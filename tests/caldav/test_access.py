"""Who may do what: ben can neither read nor change anna's calendar, a wrong password is refused,
and hostile paths reach nothing outside a calendar and change nothing in the store."""
import base64
import http.client
import unittest

import harness

CALENDAR = '/example/anna/calendar/'
EVENT = ('BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//CVAICP//tests//EN\r\nBEGIN:VEVENT\r\n'
         'UID:{uid}\r\nDTSTAMP:20261201T080000Z\r\nDTSTART:20261214T090000Z\r\n'
         'DTEND:20261214T100000Z\r\nSUMMARY:secret of {uid}\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n')
QUERY = ('<?xml version="1.0"?><C:calendar-query xmlns:D="DAV:" '
         'xmlns:C="urn:ietf:params:xml:ns:caldav"><D:prop><C:calendar-data/></D:prop>'
         '<C:filter><C:comp-filter name="VCALENDAR"/></C:filter></C:calendar-query>')
PROPFIND = '<?xml version="1.0"?><D:propfind xmlns:D="DAV:"><D:allprop/></D:propfind>'
PROPPATCH = ('<?xml version="1.0"?><D:propertyupdate xmlns:D="DAV:"><D:set><D:prop>'
             '<D:displayname>taken</D:displayname></D:prop></D:set></D:propertyupdate>')


class AccessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = harness.Server()
        try:
            for user, name in [('anna', 'a1'), ('ben', 'b1')]:
                status, _ = cls.request(f'{user}@example', f'/example/{user}/calendar/{name}.ics',
                                        'PUT', EVENT.format(uid=name))
                assert status in (201, 204), f'{user} cannot write own calendar: {status}'
            made = harness.cvcal('add', '--mailbox', 'anna', '--postoffice', 'example',
                                 '--start', '2026-12-15T09:00', '--end', '2026-12-15T10:00',
                                 '--subject', 'secret of host')
            cls.host_item = made['id'] + '.ics'
        except BaseException:
            cls.server.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    @classmethod
    def request(cls, user: str, path: str, method: str = 'GET', body: str = '',
                password: str | None = None, **headers: str) -> tuple[int, str]:
        secret = harness.PASSWORDS[user] if password is None else password
        kind = 'text/calendar' if method == 'PUT' else 'application/xml'
        headers = {'Authorization': 'Basic ' + base64.b64encode(f'{user}:{secret}'.encode())
                   .decode(), 'Content-Type': kind, 'Depth': '1', **headers}
        connection = http.client.HTTPConnection('127.0.0.1', cls.server.port, timeout=60)
        try:
            connection.request(method, path, body.encode(), headers)
            response = connection.getresponse()
            return response.status, response.read().decode(errors='replace')
        finally:
            connection.close()

    def assertStoreKept(self, before: dict) -> None:
        self.assertEqual(before, harness.tree(self.server.root))
        status, text = self.request('anna@example', CALENDAR + 'a1.ics')
        self.assertEqual(200, status)
        self.assertIn('secret of a1', text)

    def test_the_owner_sees_both_kinds_of_event(self):
        for method, body, wanted in [('PROPFIND', PROPFIND, ('a1.ics', self.host_item)),
                                     ('REPORT', QUERY, ('secret of a1', 'secret of host'))]:
            status, text = self.request('anna@example', CALENDAR, method, body)
            self.assertEqual(207, status, method)
            for piece in wanted:
                self.assertIn(piece, text, method)

    def test_ben_can_neither_read_nor_change_annas_calendar(self):
        before = harness.tree(self.server.root)
        b1 = f'{self.server.url}example/ben/calendar/b1.ics'
        for path, method, body, headers in [
                (CALENDAR, 'PROPFIND', PROPFIND, {}), (CALENDAR, 'PROPFIND', PROPFIND, {'Depth': '0'}),
                (CALENDAR, 'REPORT', QUERY, {}), (CALENDAR + 'a1.ics', 'GET', '', {}),
                (CALENDAR + self.host_item, 'GET', '', {}), (CALENDAR + 'a1.ics', 'PROPFIND', '', {}),
                (CALENDAR + 'a1.ics', 'PUT', EVENT.format(uid='a1'), {}),
                (CALENDAR + 'new.ics', 'PUT', EVENT.format(uid='new'), {}),
                (CALENDAR + 'a1.ics', 'DELETE', '', {}), (CALENDAR + self.host_item, 'DELETE', '', {}),
                (CALENDAR, 'DELETE', '', {}), (CALENDAR, 'PROPPATCH', PROPPATCH, {}),
                ('/example/anna/other/', 'MKCALENDAR', '', {}),
                ('/example/ben/calendar/b1.ics', 'MOVE', '', {'Destination': b1.replace('ben', 'anna')}),
                (CALENDAR + 'a1.ics', 'MOVE', '', {'Destination': b1.replace('b1', 'a1')})]:
            with self.subTest(method=method, path=path):
                status, text = self.request('ben@example', path, method, body, **headers)
                self.assertIn(status, (403, 404))
                self.assertNotIn('secret of', text)
        self.assertStoreKept(before)

    def test_wrong_credentials_get_401(self):
        before = harness.tree(self.server.root)
        for user, password in [('anna@example', 'wrong'), ('anna@example', ''),
                               ('anna@example', harness.PASSWORDS['ben@example']),
                               ('nobody@example', 'x')]:
            for method, path, body in [('PROPFIND', CALENDAR, PROPFIND), ('GET', CALENDAR + 'a1.ics', ''),
                                       ('PUT', CALENDAR + 'x.ics', EVENT.format(uid='x')),
                                       ('DELETE', CALENDAR + 'a1.ics', '')]:
                with self.subTest(password=password, method=method):
                    self.assertEqual(401, self.request(user, path, method, body, password)[0])
        self.assertStoreKept(before)

    def test_hostile_paths_reach_nothing_and_change_nothing(self):
        escape = self.server.dir / 'escaped.ics'
        up = '%2e%2e/' * 12 + str(escape).lstrip('/')
        calendar_folder = '..\\..\\..\\MAILROOT\\anna\\Calendar\\'
        before = harness.tree(self.server.root)
        paths = [CALENDAR + tail for tail in [
            '../../ben/calendar/b1.ics', '%2e%2e/%2e%2e/ben/calendar/b1.ics',
            '..%2f..%2fben%2fcalendar%2fb1.ics', '%2e%2e%2f%2e%2e%2fben%2fcalendar%2f',
            'a1.ics%00.txt', '%00', '..\\..\\ben\\calendar\\b1.ics',
            '..%5c..%5cben%5ccalendar%5cb1.ics', calendar_folder + self.host_item[:-4],
            calendar_folder.replace('\\', '%5c') + 'Y26M12D15.CAL', 'c:%5cescaped.ics',
            '../' * 12 + str(escape).lstrip('/'), up, 'a' * 5000 + '.ics']]
        paths += ['/../example/ben/calendar/', '/example/anna/../ben/calendar/b1.ics',
                  '/example/ben%2fcalendar/', '/example/anna%00/calendar/', '/' + up]
        for n, path in enumerate(paths):
            for method in ('GET', 'PROPFIND', 'PUT', 'DELETE'):
                with self.subTest(method=method, path=path[:80]):
                    body = EVENT.format(uid=f'hostile-{n}') if method == 'PUT' else ''
                    status, text = self.request('anna@example', path, method, body)
                    if method in ('PUT', 'DELETE') or status >= 300:
                        self.assertTrue(400 <= status < 500, status)
                    else:
                        self.assertNotIn('secret of b1', text)
                        self.assertNotIn(str(self.server.dir), text)
        self.assertFalse(escape.exists())
        self.assertStoreKept(before)


if __name__ == '__main__':
    unittest.main()
