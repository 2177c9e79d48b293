"""Who may do what: ben can neither read nor change anna's calendar, a wrong password gets 401,
hostile paths reach nothing outside a calendar and change nothing in the store, and hostile
bodies and objects are refused with the status that says why while ben goes on working."""
import base64
import contextlib
import http.client
import threading
import unittest

import caldav

import harness

CAL = '/example/anna/calendar/'
EVENT = harness.ICS.replace('{summary}', 'secret of {uid}').replace('{day:%Y%m%d}', '20261214')
QUERY = '<C:calendar-query xmlns:C="urn:ietf:params:xml:ns:caldav"/>'
NEVER = EVENT.replace('SUMMARY', 'RRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\r\nSUMMARY')
LAUGHS = '<!DOCTYPE d [<!ENTITY a "ha">' + ''.join(
    f'<!ENTITY {chr(98 + i)} "{("&" + chr(97 + i) + ";") * 10}">' for i in range(9)) + ']>'
PROPFIND = '<D:propfind xmlns:D="DAV:"><D:prop><D:displayname>{}</D:displayname></D:prop></D:propfind>'


class AccessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = harness.Server()
        cls.addClassCleanup(cls.server.close)
        for user, name in [('anna', 'a1'), ('ben', 'b1')]:
            path, body = f'/example/{user}/calendar/{name}.ics', EVENT.format(uid=name)
            assert cls.request(f'{user}@example', 'PUT', path, body)[0] == 201, user
        cls.host = harness.cvcal('add', '--mailbox', 'anna', '--postoffice', 'example', '--start',
                                 '2026-12-15T09:00', '--end', '2026-12-15T10:00',
                                 '--subject', 'secret of host')['id'] + '.ics'
        cls.before = cls.server.files()

    @classmethod
    def request(cls, user: str, method: str, path: str, body: str = '', password: str = '',
                **headers: str) -> tuple[int, str]:
        login = f'{user}:{password or harness.PASSWORDS.get(user)}'.encode()
        with contextlib.closing(http.client.HTTPConnection('127.0.0.1', cls.server.port)) as link:
            link.request(method, path, body.encode(), {
                'Authorization': 'Basic ' + base64.b64encode(login).decode(), 'Depth': '1',
                'Content-Type': 'text/calendar' if method == 'PUT' else 'text/xml', **headers})
            response = link.getresponse()
            return response.status, response.read().decode(errors='replace')

    def tearDown(self):
        """The store is as it was, and the server still serves its owner."""
        self.assertEqual(self.before, self.server.files())
        self.assertEqual({'secret of a1', 'secret of host'}, {
            str(harness.main_event(e.data)['SUMMARY']) for e in self.server.calendar().events()})

    def test_a_client_finds_the_calendar_from_the_principal_through_the_home(self):
        client = caldav.DAVClient(self.server.url, username='anna@example',
                                  password=harness.PASSWORDS['anna@example'])
        principal = client.principal()
        self.assertEqual(self.server.url + 'anna%40example/', str(principal.url))
        self.assertEqual(self.server.url + 'example/anna/', str(principal.calendar_home_set.url))
        self.assertEqual([self.server.collection], [str(c.url) for c in principal.calendars()])

    def test_ben_cannot_read_or_change_annas_calendar_nor_a_wrong_password_anything(self):
        ben, site = '/example/ben/calendar/b1.ics', self.server.url.rstrip('/')
        for method, path, body, headers in [
                ('PROPFIND', CAL, '', {}), ('PROPFIND', CAL, '', {'Depth': '0'}),
                ('REPORT', CAL, QUERY, {}), ('GET', CAL + 'a1.ics', '', {}),
                ('GET', CAL + self.host, '', {}), ('PROPFIND', CAL + 'a1.ics', '', {}),
                ('PUT', CAL + 'a1.ics', EVENT.format(uid='a1'), {}),
                ('PUT', CAL + 'new.ics', EVENT.format(uid='new'), {}), ('DELETE', CAL, '', {}),
                ('DELETE', CAL + 'a1.ics', '', {}), ('DELETE', CAL + self.host, '', {}),
                ('MOVE', ben, '', {'Destination': site + CAL + 'b1.ics'})]:
            for user, password, refusals in [('ben@example', '', (403, 404)), (
                    'anna@example', 'ben-secret', (401,)), ('nobody@example', 'x', (401,))]:
                with self.subTest(method=method, path=path, user=user, password=password):
                    status, text = self.request(user, method, path, body, password, **headers)
                    self.assertIn(status, refusals)
                    self.assertNotIn('secret of', text)

    def test_credentials_that_are_no_login_are_challenged(self):
        for value in ['Basic !!!not-base64!!!', 'Basic QQ==', 'Basic ' + 'A' * 10000,
                      'Basic ' + base64.b64encode(b'\xff\xfe:x').decode()]:
            with self.subTest(value=value[:20]), contextlib.closing(
                    http.client.HTTPConnection('127.0.0.1', self.server.port)) as link:
                link.request('PROPFIND', CAL, headers={'Authorization': value, 'Depth': '0'})
                response = link.getresponse()
                response.read()
                self.assertEqual(401, response.status)
                self.assertTrue(response.getheader('WWW-Authenticate', '').startswith('Basic '))

    def test_hostile_paths_reach_nothing_and_change_nothing(self):
        escape = self.server.dir / 'escaped.ics'
        up, folder = '%2e%2e/' * 12 + str(escape)[1:], '..\\..\\..\\MAILROOT\\anna\\Calendar\\'
        paths = [CAL + tail for tail in [
            '../../ben/calendar/b1.ics', '%2e%2e/%2e%2e/ben/calendar/b1.ics',
            '..%2f..%2fben%2fcalendar%2fb1.ics', '%2e%2e%2f%2e%2e%2fben%2fcalendar%2f',
            'a1.ics%00.txt', '%00', '..\\..\\ben\\calendar\\b1.ics', '..%5c..%5cben%5cb1.ics',
            folder + self.host[:-4], folder.replace('\\', '%5c') + 'Y26M12D15.CAL',
            'c:%5cescaped.ics', '../' * 12 + str(escape)[1:], up, 'a' * 5000 + '.ics']]
        paths += ['/../example/ben/calendar/', '/example/anna/../ben/calendar/b1.ics',
                  '/example/ben%2fcalendar/', '/example/anna%00/calendar/', '/' + up]
        for n, path in enumerate(paths):
            for method in ('GET', 'PROPFIND', 'PUT', 'DELETE'):
                with self.subTest(method=method, path=path[:80]):
                    body = EVENT.format(uid=f'hostile-{n}') if method == 'PUT' else ''
                    status, text = self.request('anna@example', method, path, body)
                    # A read may answer what anna may see anyway (the root, say), nothing more.
                    if method in ('PUT', 'DELETE') or status >= 300:
                        self.assertTrue(400 <= status < 500, status)
                    self.assertNotIn('secret of b1', text)
                    self.assertNotIn(str(self.server.dir), text)
        self.assertFalse(escape.exists())

    def test_hostile_bodies_and_objects_are_refused_while_ben_works(self):
        secret = self.server.dir / 'secret.txt'
        secret.write_text('secret of the machine')
        outside = f'<!DOCTYPE d [<!ENTITY e SYSTEM "file://{secret}">]>'
        stop, ben = threading.Event(), []

        def work():  # ben reads his calendar all along
            while not stop.is_set():
                ben.append(self.request('ben@example', 'GET', '/example/ben/calendar/b1.ics')[0])

        worker = threading.Thread(target=work)
        worker.start()
        try:
            for method, path, body, headers, status, says in [
                    ('PUT', CAL + 'big.ics', 'x' * 20_000_000, {}, 413, 'at most 10000000'),
                    ('PROPFIND', CAL, 'x', {'Content-Length': 'abc'}, 400, 'not a length'),
                    ('PROPFIND', CAL, 'x', {'Content-Length': '\xb2'}, 400, 'not a length'),
                    ('PROPFIND', CAL, LAUGHS + PROPFIND.format('&j;'), {}, 400, 'document type'),
                    ('REPORT', CAL, LAUGHS + QUERY, {}, 400, 'document type'),
                    ('PROPFIND', CAL, outside + PROPFIND.format('&e;'), {}, 400, 'document type'),
                    ('PROPFIND', CAL, '<!DOCTYPE d SYSTEM "file:///etc/passwd">' +
                     PROPFIND.format(''), {}, 400, 'document type'),
                    ('PUT', CAL + 'never.ics', NEVER.format(uid='never'), {}, 403,
                     "'never': the recurrence does not reach its next instance"),
                    ('PUT', CAL + 'todo.ics', EVENT.format(uid='todo').replace('VEVENT', 'VTODO'),
                     {}, 403, 'supported-calendar-component'),
                    ('DELETE', CAL, '', {}, 403, 'removed with its mailbox'),
                    ('PUT', CAL, EVENT.format(uid='whole'), {}, 403, 'made by the mail server'),
                    ('MKCALENDAR', '/example/anna/second/', '', {}, 403, 'forbidden')]:
                with self.subTest(method=method, path=path, says=says):
                    answer = self.request('anna@example', method, path, body, **headers)
                    self.assertEqual(status, answer[0], answer[1])
                    self.assertIn(says, answer[1])
                    self.assertNotIn('secret of the machine', answer[1])
        finally:
            stop.set()
            worker.join()
        self.assertEqual({200}, set(ben))


if __name__ == '__main__':
    unittest.main()
