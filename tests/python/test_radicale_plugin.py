"""The Radicale plugins: who may reach which collection, the calendar home, what the storage shows
and refuses, listings that read no text, time ranges decided by Radicale's own filter, users
that do not wait for each other, and logins remembered only while they hold."""
import base64
import io
import os
import threading
import wsgiref.util
from unittest import mock
from xml.etree import ElementTree as ET

from support import StoreTest

import bcrypt
import radicale
from radicale import config, xmlutils
from radicale import item as radicale_item
from radicale.auth import htpasswd

from cvaicp import icalendar
from radicale_cvaicp import Storage, application, auth, door, propfind, reports
from radicale_cvaicp.refusals import Refused
from radicale_cvaicp.rights import Rights

EVENT = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:t\r\nBEGIN:VEVENT\r\nUID:e1\r\n"
         "DTSTAMP:20261201T000000Z\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\n"
         "SUMMARY:Sent\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
HOME = ('<D:propfind xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav"><D:prop>'
        '<C:calendar-home-set/><D:getetag/></D:prop></D:propfind>')


def call(application, user: str, method: str, path: str, body: str = "",
         depth: str = "0") -> tuple:
    """(status, body) of one request, as Radicale's server hands it to the application."""
    data = body.encode()
    environ = {"REQUEST_METHOD": method, "PATH_INFO": path, "CONTENT_LENGTH": str(len(data)),
               "CONTENT_TYPE": "text/calendar" if method == "PUT" else "text/xml",
               "wsgi.input": io.BytesIO(data), "HTTP_DEPTH": depth,
               "HTTP_AUTHORIZATION": "Basic " + base64.b64encode(user.encode() + b":x").decode()}
    wsgiref.util.setup_testing_defaults(environ)
    status = []
    answer = b"".join(application(environ, lambda text, headers, exc_info=None:
                                  status.append(int(text.split()[0]))))
    return status[0], answer.decode()


def hrefs(answer: str, tag: str = "{DAV:}response/{DAV:}href") -> list:
    return [e.text for e in ET.fromstring(answer).iterfind(".//" + tag)]


class RadicalePluginTest(StoreTest):
    def setUp(self) -> None:
        super().setUp()
        os.makedirs(os.path.join(self.root, "po", "MAILROOT", "ben"))
        self.configuration = config.load()
        self.configuration.update({"storage": {"filesystem_folder": self.state}}, "test")

    def serving(self):
        self.configuration.update({"auth": {"type": "none"},
                                   "rights": {"type": "radicale_cvaicp.rights"},
                                   "storage": {"type": "radicale_cvaicp"}}, "test")
        return door.serving(self.configuration)

    def test_a_login_is_remembered_only_while_the_password_file_holds_it(self) -> None:
        users = os.path.join(self.root, "users")

        def write(password: bytes) -> None:
            with open(users + ".new", "wb") as f:
                f.write(b"anna@po:" + bcrypt.hashpw(password, bcrypt.gensalt(4)) + b"\n")
            os.replace(users + ".new", users)  # as htpasswd and editors save it

        write(b"old")
        self.configuration.update({"auth": {"htpasswd_filename": users,
                                            "htpasswd_encryption": "bcrypt"}}, "test")
        checks = []
        with mock.patch.object(htpasswd.Auth, "login", autospec=True,
                               side_effect=lambda *a, original=htpasswd.Auth.login:
                               checks.append(a[1:]) or original(*a)):
            logins = auth.Auth(self.configuration)
            self.assertEqual(["anna@po"] * 2, [logins.login("anna@po", "old") for _ in "12"])
            self.assertEqual(1, len(checks))  # the second from memory
            self.assertEqual(["", ""], [logins.login("anna@po", "guess") for _ in "12"])
            self.assertEqual(3, len(checks))  # a failure is checked every time
            write(b"new")
            self.assertEqual(("", "anna@po"), (logins.login("anna@po", "old"),
                                               logins.login("anna@po", "new")))

    def test_answers_are_the_bytes_radicale_writes(self) -> None:
        answer = ET.Element(xmlutils.make_clark("D:multistatus"))
        response = ET.SubElement(answer, xmlutils.make_clark("D:response"))
        ET.SubElement(response, xmlutils.make_clark("D:href")).text = "/a/b c/\u00e9\udcff.ics"
        ET.SubElement(response, xmlutils.make_clark("C:calendar-data")).text = (
            "BEGIN:VCALENDAR\r\n<&>\"'\u2028\U0001F600\r\n")
        ET.SubElement(response, "{http://x.example/}odd",
                      {"a": "1\"<", xmlutils.make_clark("CS:b"): "\n"})
        self.assertEqual(radicale.Application(self.configuration)._xml_response(answer),
                         application.Application(self.configuration)._xml_response(answer))

    def test_a_user_owns_exactly_its_calendar(self) -> None:
        rights = Rights(self.configuration)
        for user, path, want in (
                ("anna@po", "/", "R"), ("anna@po", "/anna@po/", "R"), ("anna@po", "/po/", ""),
                ("anna@po", "/po/anna/calendar/", "rw"), ("anna@po", "/po/anna/", "R"),
                ("anna@po", "/po/ben/calendar/", ""), ("anna@po", "/ben@po/", ""),
                ("anna@po", "/po/ben/", ""), ("", "/po/anna/calendar/", ""),
                ("anna@po", "/po/anna/calendar/x.ics", ""), ("..@po", "/po/../calendar/", ""),
                ("a\\b@po", "/po/a\\b/calendar/", ""), ("anna@p\0", "/p\0/anna/calendar/", ""),
                ("anna", "/anna/", "")):
            self.assertEqual(want, rights.authorization(user, path), (user, path))

    def test_the_calendar_home_holds_the_calendar_and_the_principal_points_there(self) -> None:
        application = self.serving()
        for path, depth, members, home in (("/anna@po/", "1", ["/anna%40po/"], ["/po/anna/"]),
                                           ("/po/anna/", "1", ["/po/anna/",
                                                               "/po/anna/calendar/"], [])):
            status, answer = call(application, "anna@po", "PROPFIND", path, HOME, depth)
            self.assertEqual(207, status, answer)
            self.assertEqual(members, hrefs(answer), path)
            self.assertEqual(home, hrefs(answer, "{urn:ietf:params:xml:ns:caldav}"
                                                  "calendar-home-set/{DAV:}href"), path)

    def test_the_calendar_its_items_and_sync_tokens(self) -> None:
        storage = Storage(self.configuration)
        calendar = next(iter(storage.discover("/po/anna/calendar/")))
        self.assertEqual("VCALENDAR", calendar.tag)
        # Radicale's own walk through a rule that never matches ends at the storage's bound.
        never = radicale_item.Item(collection_path="po/anna/calendar", text=EVENT.replace(
            "SUMMARY", "RRULE:FREQ=SECONDLY;COUNT=2;BYMONTH=2;BYMONTHDAY=30\r\nSUMMARY"))
        with self.assertRaisesRegex(Refused, "'e1': the recurrence does not reach"):
            never.prepare()
        token, changed = calendar.sync()
        self.assertEqual([], list(changed))
        item = radicale_item.Item(collection_path="po/anna/calendar", text=EVENT)
        self.assertEqual("Sent", calendar.upload("e1.ics", item).vobject_item.vevent.summary.value)
        self.cvcal("add", "--mailbox", "anna", "--postoffice", "po", "--id", "h1", "--start",
                   "2027-03-01T09:00Z", "--end", "2027-03-01T10:00Z")
        calendar = next(iter(storage.discover("/po/anna/calendar/")))  # the next request
        newer, changed = calendar.sync(token)
        self.assertEqual(["e1.ics", "h1.ics"], list(changed))
        self.assertTrue(calendar.has_uid("e1") and calendar.has_uid("h1"))
        self.assertFalse(calendar.has_uid("e2"))
        for bad in ("http://radicale.org/ns/sync/unknown", "no-uri"):
            with self.assertRaises(ValueError):
                calendar.sync(bad)
        # A time range: the catalogue's spans narrow, Radicale's filter decides; a yearly rule
        # is found in a year where only its first instance has a line.
        yearly = EVENT.replace("UID:e1", "UID:y1").replace(
            "DTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z",
            "DTSTART:20270116T090000Z\r\nDTEND:20270116T100000Z\r\nRRULE:FREQ=YEARLY")
        calendar.upload("y1.ics", radicale_item.Item(collection_path="po/anna/calendar",
                                                     text=yearly))
        all_day = EVENT.replace("UID:e1", "UID:d1").replace(
            "DTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z",
            "DTSTART;VALUE=DATE:20270302\r\nDTEND;VALUE=DATE:20270303")
        calendar.upload("d1.ics", radicale_item.Item(collection_path="po/anna/calendar",
                                                     text=all_day))
        days = [(d + "T000000Z", d + "T235959Z", found) for d, found in (
            ("20270301", ["h1.ics"]), ("20270228", []), ("20290116", ["y1.ics"]),
            ("20290117", []), ("20261207", ["e1.ics"]))]
        # e1 (09:00 to 10:00) is plain UTC and d1 a plain date, which a filter reads as UTC
        # midnights: the storage decides both itself, to the second.
        edges = [("20261207T100000Z", "20261207T110000Z", []),
                 ("20261207T095959Z", "20261207T110000Z", ["e1.ics"]),
                 ("20261207T080000Z", "20261207T090000Z", []),
                 ("20270301T120000Z", "20270302T000000Z", []),
                 ("20270302T235959Z", "20270304T000000Z", ["d1.ics"]),
                 ("20270303T000000Z", "20270304T000000Z", [])]
        for start, end, found in days + edges:
            f = ET.fromstring(
                '<C:filter xmlns:C="urn:ietf:params:xml:ns:caldav"><C:comp-filter name="VCALENDAR">'
                '<C:comp-filter name="VEVENT"><C:time-range start="%s" end="%s"/>'
                '</C:comp-filter></C:comp-filter></C:filter>' % (start, end))
            # As Radicale takes them: those the storage matched itself (whose times it knows
            # exactly), and those its filter matches.
            given = list(calendar.get_filtered([f]))
            matched = [i.href for i, known in given
                       if known or radicale_item.filter.comp_match(i, f[0])]
            self.assertEqual(found, matched, start)
            for i, known in given:
                self.assertEqual(i.href != "y1.ics", known, (start, i.href))
                if known:
                    self.assertTrue(radicale_item.filter.comp_match(i, f[0]), (start, i.href))
        # Collections are the mail server's: a new one is refused, an existing one is kept.
        for refused in (lambda: storage.create_collection("/po/zed/calendar/"),
                        lambda: storage.create_collection("/po/anna/calendar/", items=[item]),
                        lambda: calendar.delete()):
            with self.assertRaises(ValueError):
                refused()
        storage.create_collection("/po/anna/calendar/", props={"D:displayname": "Mine"})
        self.assertEqual("Mine", calendar.get_meta("D:displayname"))
        calendar.delete("e1.ics")
        self.assertEqual(["d1.ics", "h1.ics", "y1.ics"],
                         sorted(i.href for i in calendar.get_all()))

    def test_reports_written_as_text_answer_what_radicale_answers(self) -> None:
        application_ = self.serving()
        for uid, times in (("e1", "DTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z"),
                           ("y1", "DTSTART:20250116T090000Z\r\nDTEND:20250116T100000Z\r\n"
                                  "RRULE:FREQ=YEARLY"),
                           ("d1", "DTSTART;VALUE=DATE:20261208\r\nDTEND;VALUE=DATE:20261209"),
                           ("x&<1", "DTSTART:20261209T090000Z\r\nDTEND:20261209T100000Z")):
            text = EVENT.replace("UID:e1", "UID:" + uid).replace(
                "DTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z", times).replace(
                "SUMMARY:Sent", "SUMMARY:<b>&amp; \u00e9")
            self.assertEqual(201, call(application_, "anna@po", "PUT",
                                       "/po/anna/calendar/%s.ics" % uid, text)[0])
        self.cvcal("add", "--mailbox", "anna", "--postoffice", "po", "--id", "h1", "--start",
                   "2026-12-07T11:00Z", "--end", "2026-12-07T12:00Z")
        prop = '<D:prop><D:getetag/><C:calendar-data/></D:prop>'
        wrap = '<C:%s xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">%s</C:%s>'
        week = ('<C:filter><C:comp-filter name="VCALENDAR"><C:comp-filter name="VEVENT">'
                '<C:time-range start="20261207T000000Z" end="20261214T000000Z"/>'
                '</C:comp-filter></C:comp-filter></C:filter>')
        names = ["e1.ics", "y1.ics", "gone.ics", "x%26%3C1.ics", "e1.ics", "h1.ics", "d1.ics"]
        asked = [wrap % ("calendar-query", prop + week, "calendar-query"),
                 wrap % ("calendar-query", '<D:prop><D:getetag/></D:prop>', "calendar-query"),
                 wrap % ("calendar-query", prop + week.replace(  # meets nothing
                     'start="20261207T000000Z" end="20261214T000000Z"',
                     'start="20261207T100000Z" end="20261207T110000Z"'), "calendar-query"),
                 wrap % ("calendar-multiget", prop + "".join(
                     "<D:href>/po/anna/calendar/%s</D:href>" % n for n in names) +
                     "<D:href>/po/ben/calendar/b.ics</D:href><D:href>/elsewhere</D:href>",
                     "calendar-multiget"),
                 wrap % ("calendar-multiget", "<D:prop><C:calendar-data/><D:getetag/></D:prop>"
                         "<D:href>/po/anna/calendar/gone.ics</D:href>", "calendar-multiget"),
                 wrap % ("calendar-multiget", "<D:prop><D:getcontenttype/><D:getetag/></D:prop>"
                         "<D:href>/po/anna/calendar/d1.ics</D:href>", "calendar-multiget")]
        sync = ('<D:sync-collection xmlns:D="DAV:"><D:sync-token>%s</D:sync-token>'
                '<D:sync-level>1</D:sync-level><D:prop><D:getetag/><D:getcontenttype/></D:prop>'
                '</D:sync-collection>')
        first = call(application_, "anna@po", "REPORT", "/po/anna/calendar/", sync % "", "1")
        token = ET.fromstring(first[1]).find("{DAV:}sync-token").text
        self.assertEqual(200, call(application_, "anna@po", "DELETE", "/po/anna/calendar/y1.ics")[0])
        asked += [sync % "", sync % token, sync % (token + "x")]

        def responses(answer: str) -> list:
            return sorted(ET.tostring(r) for r in ET.fromstring(answer))

        written = []
        with mock.patch.object(reports._Writer, "rendered", autospec=True,
                               side_effect=reports._Writer.rendered) as body_, \
                mock.patch.object(reports.MultistatusText, "_PENDING", 300):
            ours = [call(application_, "anna@po", "REPORT", "/po/anna/calendar/", body, "1")
                    for body in asked]
            written.append(body_.call_count + 1)  # and the refused token's by Radicale's own
        with mock.patch.object(reports.serving, "__enter__"):  # Radicale's own, as before
            theirs = [call(application_, "anna@po", "REPORT", "/po/anna/calendar/", body, "1")
                      for body in asked]
        self.assertEqual([len(asked)], written)
        for body, (status, answer), (their_status, their_answer) in zip(asked, ours, theirs):
            self.assertEqual((their_status, responses(their_answer)), (status, responses(answer)))
            if "multiget" not in body:  # whose order Radicale leaves to a set
                self.assertEqual(their_answer, answer)
        self.assertEqual(["/po/anna/calendar/d1.ics", "/po/anna/calendar/e1.ics",
                          "/po/anna/calendar/h1.ics", "/po/anna/calendar/x%26%3C1.ics"],
                         hrefs(ours[0][1]))
        self.assertEqual(8, len(hrefs(ours[3][1])))  # once each, and two 404s from elsewhere
        self.assertEqual((403, ["/po/anna/calendar/y1.ics"]), (ours[-1][0], hrefs(ours[-2][1])))

    def test_propfinds_written_in_chunks_are_the_bytes_radicale_writes(self) -> None:
        application_ = self.serving()
        for n in range(4):
            self.assertEqual(201, call(application_, "anna@po", "PUT", "/po/anna/calendar/%d.ics"
                                       % n, EVENT.replace("UID:e1", "UID:e%d" % n))[0])
        asked = [HOME, '<D:propfind xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav" '
                 'xmlns:X="http://x.example/"><D:prop><D:getetag/><D:resourcetype/>'
                 '<C:supported-calendar-component-set/><D:getcontenttype/><D:displayname/>'
                 '<D:current-user-privilege-set/><X:odd/></D:prop></D:propfind>',
                 '<D:propfind xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav"><D:prop>'
                 '<D:getetag/><D:resourcetype/><C:supported-calendar-component-set/>'
                 '<D:getcontenttype/><D:displayname/><D:current-user-privilege-set/>'
                 '<D:sync-token/><D:owner/></D:prop></D:propfind>',
                 '<D:propfind xmlns:D="DAV:"><D:allprop/></D:propfind>']
        places = ["/", "/anna@po/", "/po/anna/", "/po/anna/calendar/", "/po/anna/calendar/3.ics"]

        def answers() -> list:
            return [call(application_, "anna@po", "PROPFIND", place, body, depth)
                    for body in asked for place in places for depth in "01"]

        with mock.patch.object(propfind, "_CHUNK", 2), \
                mock.patch.object(reports.MultistatusText, "_PENDING", 300):
            ours = answers()
        with mock.patch.object(reports.serving, "__enter__"):
            theirs = answers()
        self.assertEqual(theirs, ours)
        self.assertIn("calendar/3.ics", ours[2 * 3 + 1][1])  # in a last chunk of one

    def test_a_listing_of_every_etag_reads_no_text(self) -> None:
        application = self.serving()
        for n in range(3):
            self.assertEqual(201, call(application, "anna@po", "PUT", "/po/anna/calendar/%d.ics"
                                       % n, EVENT.replace("UID:e1", "UID:e%d" % n))[0])
        with mock.patch.object(icalendar.Calendar, "get", side_effect=AssertionError("read")):
            status, answer = call(application, "anna@po", "PROPFIND", "/po/anna/calendar/",
                                  HOME, "1")
        self.assertEqual(207, status, answer)
        self.assertEqual(["/po/anna/calendar/"] + ["/po/anna/calendar/%d.ics" % n
                                                   for n in range(3)], hrefs(answer))
        self.assertEqual(1 + 3, answer.count("<getetag>"), answer)  # the calendar's and each

    def test_a_request_held_in_the_store_holds_up_no_other_user(self) -> None:
        application = self.serving()
        self.assertEqual(201, call(application, "ben@po", "PUT", "/po/ben/calendar/b.ics",
                                   EVENT)[0])
        # Anna's PUT is held on its way into the store, where a lock of the whole process once
        # held ben up too; ben's GET must be answered while anna's PUT waits there.
        reached, release, answers = threading.Event(), threading.Event(), {}

        def held(calendar, *args, original=icalendar.Calendar.put):
            reached.set()
            release.wait(60)
            return original(calendar, *args)

        def ask(user: str, *request: str) -> None:
            answers[user] = (call(application, user, *request), release.is_set())

        with mock.patch.object(icalendar.Calendar, "put", held):
            anna = threading.Thread(target=ask, args=(
                "anna@po", "PUT", "/po/anna/calendar/e1.ics", EVENT.replace("Sent", "Held")))
            anna.start()
            self.assertTrue(reached.wait(60))
            ben = threading.Thread(target=ask, args=("ben@po", "GET", "/po/ben/calendar/b.ics"))
            ben.start()
            ben.join(30)  # only a safety net: ben's answer comes while anna waits, or too late
            release.set()
            anna.join(60)
            ben.join(60)
        self.assertEqual((200, False), (answers["ben@po"][0][0], answers["ben@po"][1]))
        self.assertIn("SUMMARY:Sent", answers["ben@po"][0][1])
        self.assertIn(answers["anna@po"][0][0], (201, 204))
