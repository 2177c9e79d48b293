"""iCalendar objects in the store: the ids, the master item byte for byte, occurrences, times and
periods, and the replace, idempotency and collision rules."""
from support import DEC7, StoreTest

from cvaicp import icalendar_store as ics
from cvaicp.icalendar_store import master_id

MIDNIGHT = 1796598000  # 2026-12-07 00:00 in Berlin
NOW = DEC7 - 86400


def vcalendar(*events: str) -> str:
    return "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:t\n%sEND:VCALENDAR\n" % "".join(
        "BEGIN:VEVENT\nDTSTAMP:20261201T000000Z\n%s\nEND:VEVENT\n" % e for e in events)


DAILY = ("UID:r1\nSUMMARY:Daily\nDTSTART;TZID=Europe/Berlin:20261207T100000\n"
         "DTEND;TZID=Europe/Berlin:20261207T110000\nRRULE:FREQ=DAILY;COUNT=%d\n"
         "EXDATE;TZID=Europe/Berlin:20261209T100000")
MOVED = ("UID:r1\nSUMMARY:Moved\nRECURRENCE-ID;TZID=Europe/Berlin:20261208T100000\n"
         "DTSTART;TZID=Europe/Berlin:20261208T150000\nDTEND;TZID=Europe/Berlin:20261208T160000")


class IcalendarStoreTest(StoreTest):
    def lines(self) -> list:
        return sorted((a.start, a.finish, a.item_id, a.period)
                      for p in self.box.period_names() for a in self.box.walk(p))

    def test_master_ids(self) -> None:
        # The first two are FNV-1a's published values in their first half; the others are the
        # layout's own examples, which the C++ door checks too.
        for uid, want in (("", "ICCBF29CE484222325AD8646FA027ADAB1"),
                          ("foobar", "IC85944171F73967E89BC93B0CB6E0B4DC"),
                          ("weekly@example", "IC2428BC0955EF24A43141463389E413C0"),
                          ("allday@example", "IC6FA20E22876E62942CCF29C638FEFBF8")):
            self.assertEqual(want, master_id(uid), uid)

    def test_master_item_byte_for_byte(self) -> None:
        event = vcalendar("UID:m1\nSUMMARY:Lunch\tout\nLOCATION:Boundary=\"4\"\nDESCRIPTION:one\\ntwo\n"
                          "DTSTART:20261207T090000Z\nDTEND:20261207T100000Z")
        self.assertEqual("added", ics.put_object(self.box, event, href="lunch.ics", now=NOW))
        text = event.replace("\n", "\r\n")
        self.assertEqual(
            "Subject: Lunch out\r\nX-Location: Boundary='4\"\r\n"
            "X-StartTime: 09:00:00 07 Dec, 2026\r\nX-FinishTime: 10:00:00 07 Dec, 2026\r\n"
            "X-AllDayEvent: 0\r\nX-IsRecurring: 0\r\nX-AppointmentUID: m1\r\n"
            "X-CVHref: lunch.ics\r\nDate: Tue, 01 Dec 2026 00:00:00 +0000\r\n"
            "Content-Type: multipart/mixed;\r\n\tboundary=\"----------677C251E373B0A\"\r\n\r\n"
            "------------677C251E373B0A\r\n"
            "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
            "one\r\ntwo\r\n------------677C251E373B0A\r\n"
            "Content-Type: text/calendar; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
            + text + "\r\n------------677C251E373B0A--\r\n",
            self.box.read_item(master_id("m1")).decode())
        self.assertEqual([(DEC7, DEC7 + 3600, master_id("m1"), "Y26M12D07")], self.lines())
        stored, = ics.objects(self.box)
        self.assertEqual(("lunch.ics", "m1", master_id("m1"), text), stored[:4])
        self.assertRegex(self.cvcal("list", "--mailbox", "anna", "--postoffice", "po",
                                    "--from", "2026-12-07T00:00Z", "--to", "2026-12-07T23:00Z"),
                         "Lunch out +Boundary='4\"")

    def test_recurrence_with_exdate_and_override(self) -> None:
        ics.put_object(self.box, vcalendar(DAILY % 5, MOVED), now=NOW)
        m, hour, day = master_id("r1"), 3600, 86400
        self.assertEqual([(DEC7, DEC7 + hour, m, "Y26M12D07")] + [
            (s, s + hour, "%s-%d" % (m, s), p) for s, p in (
                (DEC7 + day + 5 * hour, "Y26M12D08"), (DEC7 + 3 * day, "Y26M12D10"),
                (DEC7 + 4 * day, "Y26M12D11"))], self.lines())
        moved = self.box.read_item("%s-%d" % (m, DEC7 + day + 5 * hour)).decode()
        self.assertIn("Subject: Moved\r\n", moved)
        self.assertTrue(moved.endswith("X-CVOccurrenceOf: %s\r\n" % m +
                                       "Date: Tue, 01 Dec 2026 00:00:00 +0000\r\n\r\n"))
        self.assertEqual([7, 8, 10, 11], sorted(self.box.free_busy("Y26M12")))
        self.assertEqual(1, len(ics.objects(self.box)))
        # An endless rule stops at the horizon, or at the most occurrences asked for; the first
        # occurrence is always made.
        endless = vcalendar((DAILY % 1).replace(";COUNT=1", ""))
        for days, most, count in ((0, 9, 1), (4, 9, 3), (9, 2, 2)):  # the horizon's second too
            ics.delete_object(self.box, "r1")  # the same text again would change nothing
            ics.put_object(self.box, endless, now=NOW, horizon_days=days, max_occurrences=most)
            self.assertEqual(count, len(self.lines()))

    def test_times_and_periods(self) -> None:
        day = 86400
        for event, start, finish, period in (
                ("DTSTART;VALUE=DATE:20261207", MIDNIGHT, MIDNIGHT + day - 1, "Y26M12D07"),
                ("DTSTART;VALUE=DATE:20261207\nDTEND;VALUE=DATE:20261209", MIDNIGHT,
                 MIDNIGHT + 2 * day - 1, "Y26M12"),
                ("DTSTART;TZID=Europe/Berlin:20261207T100000", DEC7, DEC7, "Y26M12D07"),
                ("DTSTART:20261207T100000", DEC7, DEC7, "Y26M12D07"),  # floating: local
                ("DTSTART:20261207T090000Z\nDURATION:PT30M", DEC7, DEC7 + 1800, "Y26M12D07"),
                ("DTSTART;TZID=Europe/Berlin:20260707T100000", 1783411200, 1783411200,
                 "Y26M07D07"),
                ("DTSTART:20261231T220000Z\nDTEND:20270101T010000Z", 1798754400, 1798765200,
                 "Y")):
            ics.put_object(self.box, vcalendar("UID:t\n" + event), now=NOW)
            self.assertEqual([(start, finish, master_id("t"), period)], self.lines(), event)
        self.assertIn(b"X-AllDayEvent: 0", self.box.read_item(master_id("t")))

    def test_put_twice_changes_nothing_and_replace_leaves_no_stale_occurrence(self) -> None:
        ics.put_object(self.box, vcalendar(DAILY % 5, MOVED), href="r.ics", now=NOW)
        before = self.files()
        self.assertEqual("unchanged", ics.put_object(self.box, vcalendar(DAILY % 5, MOVED),
                                                     href="r.ics", now=NOW + 99))
        self.assertEqual(before, self.files())
        self.assertEqual("replaced", ics.put_object(self.box, vcalendar(DAILY % 2), now=NOW))
        self.assertEqual([DEC7, DEC7 + 86400], [line[0] for line in self.lines()])
        self.assertEqual("r.ics", ics.objects(self.box)[0].href)  # kept: none came
        self.assertEqual(2, len(self.box.item_names(master_id("r1"))))
        self.assertTrue(ics.delete_object(self.box, "r1"))
        self.assertEqual([], self.lines())
        self.assertEqual([], self.box.item_names("IC"))
        self.assertFalse(ics.delete_object(self.box, "r1"))

    def test_an_appointment_made_by_a_host_is_an_object(self) -> None:
        self.cvcal("add", "--mailbox", "anna", "--postoffice", "po", "--id", "h1", "--subject",
                   "Hello, you", "--start", "2026-12-07T09:00Z", "--end", "2026-12-07T10:00Z")
        stored, = ics.objects(self.box)
        self.assertEqual(("h1.ics", "h1", "h1"), stored[:3])
        for line in ("UID:h1", "DTSTART:20261207T090000Z", "DTEND:20261207T100000Z",
                     "SUMMARY:Hello\\, you"):
            self.assertIn(line + "\r\n", stored.ics_text)
        # Sent back changed, it replaces the host's appointment rather than doubling it.
        changed = stored.ics_text.replace("Hello\\, you", "Changed")
        self.assertEqual("replaced", ics.put_object(self.box, changed, href="h1.ics", now=NOW))
        stored, = ics.objects(self.box)
        self.assertEqual(("h1.ics", "h1", master_id("h1")), stored[:3])
        self.assertEqual([], self.box.item_names("h1"))

    def test_refusals_leave_the_store_as_it_was(self) -> None:
        self.box.write_item(master_id("u"), b"X-AppointmentUID: someone else\r\n\r\n")
        before = self.files()
        for text in (vcalendar("UID:u\nDTSTART:20261207T090000Z"),  # the id is taken
                     vcalendar("DTSTART:20261207T090000Z"),
                     vcalendar("UID:a\nDTSTART:20261207", "UID:b\nDTSTART:20261207"),
                     vcalendar("UID:a\nDTSTART:20400101T000000Z"),
                     vcalendar("UID:a\nDTSTART:20261207T090000Z\nSUMMARY:a\0b"),
                     vcalendar("UID:a\nDTSTART:20261207T090000Z").replace("VEVENT", "VTODO"),
                     # a rule that never matches: given up after its second of work
                     vcalendar("UID:a\nDTSTART:20261207T090000Z\n"
                               "RRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30"),
                     "not a calendar"):
            with self.assertRaises(ValueError, msg=text):
                ics.put_object(self.box, text, now=NOW)
        self.assertEqual(before, self.files())
