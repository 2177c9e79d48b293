"""The Radicale plugins: who may reach which collection, what the storage shows and refuses, sync
tokens that follow changes made by other processes, and users that do not wait for each other."""
import base64
import io
import os
import threading
import wsgiref.util
from unittest import mock
from xml.etree import ElementTree as ET

from support import StoreTest

from radicale import config
from radicale import item as radicale_item

from cvaicp import icalendar_store
from radicale_cvaicp import Storage, door
from radicale_cvaicp.refusals import Refused
from radicale_cvaicp.rights import Rights

EVENT = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:t\r\nBEGIN:VEVENT\r\nUID:e1\r\n"
         "DTSTAMP:20261201T000000Z\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\n"
         "SUMMARY:Sent\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")


def call(application, user: str, method: str, path: str, body: str = "") -> tuple:
    """(status, body) of one request, as Radicale's server hands it to the application."""
    data = body.encode()
    environ = {"REQUEST_METHOD": method, "PATH_INFO": path, "CONTENT_LENGTH": str(len(data)),
               "CONTENT_TYPE": "text/calendar", "wsgi.input": io.BytesIO(data),
               "HTTP_AUTHORIZATION": "Basic " + base64.b64encode(user.encode() + b":x").decode()}
    wsgiref.util.setup_testing_defaults(environ)
    status = []
    answer = b"".join(application(environ, lambda text, headers, exc_info=None:
                                  status.append(int(text.split()[0]))))
    return status[0], answer.decode()


class RadicalePluginTest(StoreTest):
    def setUp(self) -> None:
        super().setUp()
        self.configuration = config.load()
        self.configuration.update({"storage": {"filesystem_folder": self.work + "/state"}},
                                  "test")

    def test_a_user_owns_exactly_its_calendar(self) -> None:
        rights = Rights(self.configuration)
        for user, path, want in (
                ("anna@po", "/", "R"), ("anna@po", "/anna@po/", "R"), ("anna@po", "/po/", ""),
                ("anna@po", "/po/anna/calendar/", "rw"), ("anna@po", "/po/anna/", ""),
                ("anna@po", "/po/ben/calendar/", ""), ("anna@po", "/ben@po/", ""),
                ("", "/po/anna/calendar/", ""), ("anna@po", "/po/anna/calendar/x.ics", ""),
                ("..@po", "/po/../calendar/", ""), ("a\\b@po", "/po/a\\b/calendar/", ""),
                ("anna@p\0", "/p\0/anna/calendar/", ""), ("anna", "/anna/", "")):
            self.assertEqual(want, rights.authorization(user, path), (user, path))

    def test_the_calendar_its_items_and_sync_tokens(self) -> None:
        storage = Storage(self.configuration)
        calendar = next(iter(storage.discover("/po/anna/calendar/")))
        self.assertEqual("VCALENDAR", calendar.tag)
        principal = list(storage.discover("/anna@po/", depth="1"))
        self.assertEqual(["anna@po", "po/anna/calendar"], [c.path for c in principal])
        # Radicale's own walk through a rule that never matches ends at the storage's bound.
        never = radicale_item.Item(collection_path="po/anna/calendar", text=EVENT.replace(
            "SUMMARY", "RRULE:FREQ=SECONDLY;COUNT=2;BYMONTH=2;BYMONTHDAY=30\r\nSUMMARY"))
        with self.assertRaisesRegex(Refused, "'e1': the recurrence does not reach"):
            never.prepare()
        token, hrefs = calendar.sync()
        self.assertEqual([], list(hrefs))
        item = radicale_item.Item(collection_path="po/anna/calendar", text=EVENT)
        self.assertEqual("Sent", calendar.upload("e1.ics", item).vobject_item.vevent.summary.value)
        self.cvcal("add", "--mailbox", "anna", "--postoffice", "po", "--id", "h1", "--start",
                   "2027-03-01T09:00Z", "--end", "2027-03-01T10:00Z")
        newer, hrefs = calendar.sync(token)
        self.assertEqual(["e1.ics", "h1.ics"], list(hrefs))
        self.cvcal("edit", "--mailbox", "anna", "--postoffice", "po", "--id", "h1", "--period",
                   "Y27M03D01", "--new-start", "2027-03-01T11:00Z", "--new-end",
                   "2027-03-01T12:00Z")
        self.assertEqual(["h1.ics"], list(calendar.sync(newer)[1]))
        with self.assertRaises(ValueError):
            calendar.sync("http://radicale.org/ns/sync/unknown")
        # A time-range report is narrowed by the items' lines.
        f = ET.fromstring(
            '<C:filter xmlns:C="urn:ietf:params:xml:ns:caldav"><C:comp-filter name="VCALENDAR">'
            '<C:comp-filter name="VEVENT"><C:time-range start="20270301T000000Z" '
            'end="20270302T000000Z"/></C:comp-filter></C:comp-filter></C:filter>')
        self.assertEqual(["h1.ics"], [i.href for i, _ in calendar.get_filtered([f])])
        # Collections are the mail server's: a new one is refused, an existing one is kept.
        for call in (lambda: storage.create_collection("/po/zed/calendar/"),
                     lambda: storage.create_collection("/po/anna/calendar/", items=[item]),
                     lambda: calendar.delete()):
            with self.assertRaises(ValueError):
                call()
        storage.create_collection("/po/anna/calendar/", props={"D:displayname": "Mine"})
        self.assertEqual("Mine", calendar.get_meta("D:displayname"))
        calendar.delete("e1.ics")
        self.assertEqual(["h1.ics"], [i.href for i in calendar.get_all()])

    def test_a_request_held_in_the_store_holds_up_no_other_user(self) -> None:
        os.makedirs(os.path.join(self.root, "po", "MAILROOT", "ben"))
        self.configuration.update({"auth": {"type": "none"},
                                   "rights": {"type": "radicale_cvaicp.rights"},
                                   "storage": {"type": "radicale_cvaicp"}}, "test")
        application = door.serving(self.configuration)
        storage = application._application._storage  # Radicale's, whose library anna's PUT uses
        self.assertEqual(201, call(application, "ben@po", "PUT", "/po/ben/calendar/b.ics",
                                   EVENT)[0])
        # Anna's PUT is held inside the store, where a lock of the whole process once held ben
        # up too; ben's GET must be answered while anna's PUT waits there.
        for where, target, name in (("an expansion", icalendar_store, "expand"), (
                "an item's write", storage.library.dll, "AppointmentItemWriteFirstChunk")):
            reached, release, answers = threading.Event(), threading.Event(), {}

            def held(*args, original=getattr(target, name), reached=reached, release=release):
                reached.set()
                release.wait(60)
                return original(*args)

            def ask(user: str, *request: str, answers=answers, release=release) -> None:
                answers[user] = (call(application, user, *request), release.is_set())

            with mock.patch.object(target, name, held):
                anna = threading.Thread(target=ask, args=(
                    "anna@po", "PUT", "/po/anna/calendar/e1.ics", EVENT.replace("Sent", where)))
                anna.start()
                self.assertTrue(reached.wait(60), where)
                ben = threading.Thread(target=ask, args=("ben@po", "GET", "/po/ben/calendar/b.ics"))
                ben.start()
                ben.join(30)  # only a safety net: ben's answer comes while anna waits, or too late
                release.set()
                anna.join(60)
                ben.join(60)
            self.assertEqual((200, False), (answers["ben@po"][0][0], answers["ben@po"][1]), where)
            self.assertIn("SUMMARY:Sent", answers["ben@po"][0][1])
            self.assertIn(answers["anna@po"][0][0], (201, 204), where)
