"""The catalogue through its binding: it follows what hosts change behind the door's back, is built
again when its file is damaged, agrees with another door on one store, and finds a recurring
object by a time range its lines do not reach."""
import glob
import os
import sqlite3
import time

from support import DEC7, StoreTest

from cvaicp.icalendar import CalendarError

DAY = 86400


def vcalendar(uid: str, summary: str, *lines: str, start: str = "20261207T090000Z") -> str:
    return "\r\n".join(["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:t", "BEGIN:VEVENT", "UID:" + uid,
                        "DTSTAMP:20261201T000000Z", "DTSTART:" + start, "SUMMARY:" + summary,
                        *lines, "END:VEVENT", "END:VCALENDAR", ""])


def summaries(calendar) -> dict:
    listed = calendar.list()
    return {s.href: s.text.split("SUMMARY:")[1].split("\r\n")[0] if "SUMMARY:" in s.text else ""
            for s in calendar.get(o.href for o in listed)}


class CatalogueTest(StoreTest):
    def where(self, *more: str) -> tuple:
        return ("--mailbox", "anna", "--postoffice", "po", *more)

    def rewrite_in_place(self, name: str, old: bytes, new: bytes) -> None:
        """The item's file written over, as a writer that does not replace files would."""
        path = os.path.join(self.root, "po", "MAILROOT", "anna", "Calendar", name)
        with open(path, "r+b") as f:
            data = f.read().replace(old, new)
            f.seek(0)
            f.write(data)
            f.truncate()

    def test_what_hosts_change_shows_at_the_next_refresh_of_a_watching_door(self) -> None:
        self.follow_hosts(watch=True)

    def test_what_hosts_change_shows_at_the_next_refresh_of_a_door_that_does_not_watch(
            self) -> None:
        self.follow_hosts(watch=False)

    def follow_hosts(self, watch: bool) -> None:
        calendar = self.calendar(watch=watch)
        token = calendar.sync()[0]
        steps = [
            ("a host adds one", lambda: self.cvcal(
                "add", *self.where("--id", "h1", "--subject", "Hello", "--start",
                                   "2026-12-07T09:00Z", "--end", "2026-12-07T10:00Z")),
             {"h1.ics": "Hello"}),
            ("a host adds a line and an item", lambda: (
                self.box.write_item("h2", b"Subject: Second\r\n\r\n"),
                self.box.add("Y26M12D08", DEC7 + DAY, DEC7 + DAY, "h2")),
             {"h1.ics": "Hello", "h2.ics": "Second"}),
            ("a host adds a line with no item",
             lambda: self.box.add("Y26M12D09", DEC7 + 2 * DAY, DEC7 + 2 * DAY, "h3"),
             {"h1.ics": "Hello", "h2.ics": "Second", "h3.ics": ""}),
            ("an item is written over in place",
             lambda: self.rewrite_in_place("h2", b"Second", b"Changed"),
             {"h1.ics": "Hello", "h2.ics": "Changed", "h3.ics": ""}),
            ("a line moves", lambda: self.cvcal(
                "edit", *self.where("--id", "h1", "--period", "Y26M12D07", "--new-start",
                                    "2026-12-07T11:00Z", "--new-end",
                                    "2026-12-07T12:00Z")),
             {"h1.ics": "Hello", "h2.ics": "Changed", "h3.ics": ""}),
            ("a host removes one", lambda: (self.box.remove("Y26M12D07", "h1"),
                                            self.box.delete_item("h1")),
             {"h2.ics": "Changed", "h3.ics": ""})]
        folder = os.path.join(self.root, "po", "MAILROOT", "anna", "Calendar")
        before, long_ago = {}, time.time() - 3600
        for n, (what, change, want) in enumerate(steps):
            change()
            in_place = what.startswith("an item is written over")
            if not watch and not in_place:
                # A folder stamp older than the file times' tick is trusted: set it back, as if
                # the change were some time ago (a stamp of its own for each change).
                os.utime(folder, (long_ago + n, long_ago + n))
            if not watch and in_place:
                # Only the full comparison sees a file written in place when nothing watches,
                # and it is due only every half minute (a read of the item sees it too).
                calendar.refresh()
                self.assertEqual(before, {o.href: o.etag for o in calendar.list()})
                with sqlite3.connect(glob.glob(self.state + "/catalogue/*.sqlite")[0]) as db:
                    db.execute("UPDATE meta SET value = value - 31000000000 WHERE key = 'swept'")
            calendar.refresh()
            self.assertEqual(want, summaries(calendar), what)
            listed = calendar.list()
            self.assertEqual(listed, [o for page in calendar.pages(2) for o in page], what)
            etags = {o.href: o.etag for o in listed}
            token, changed = calendar.sync(token)
            self.assertEqual({h for h in set(etags) | set(before)
                              if etags.get(h) != before.get(h)}, set(changed), what)
            self.assertEqual(1, len(changed), what)
            before = etags

    def test_a_damaged_catalogue_is_built_again_from_the_store(self) -> None:
        self.cvcal("add", *self.where("--id", "h1", "--start", "2026-12-07T09:00Z", "--end",
                                      "2026-12-07T10:00Z"))
        calendar = self.calendar()
        calendar.put("e1.ics", vcalendar("e1", "Sent"))
        want = (sorted(calendar.list()), calendar.sync()[0])
        path = glob.glob(self.state + "/catalogue/*.sqlite")[0]

        def overwrite(at: int, data: bytes) -> None:
            with open(path, "r+b") as f:
                f.seek(at)
                f.write(data)

        def schema(version: int) -> None:
            with sqlite3.connect(path) as db:
                db.execute("UPDATE meta SET value = ? WHERE key = 'schema'", (version,))

        for what, damage in (("its header", lambda: overwrite(0, b"not a database" * 8)),
                             ("its pages", lambda: overwrite(4096, b"\xff" * 8192)),
                             ("cut short", lambda: os.truncate(path, 5000)),
                             ("gone", lambda: os.remove(path)),
                             ("another schema", lambda: schema(0))):
            with self.subTest(what):
                calendar.close()
                for suffix in ("-wal", "-shm"):  # what WAL mode keeps beside the file
                    if os.path.exists(path + suffix):
                        os.remove(path + suffix)
                damage()
                calendar = self.calendar()
                self.assertEqual(want, (sorted(calendar.list()), calendar.sync()[0]))
        # A door that holds the file while another builds it anew follows it there.
        other = self.calendar(self.icalendar_library())
        os.remove(path)
        calendar.put("e2.ics", vcalendar("e2", "Later"))
        other.refresh()
        self.assertEqual(sorted(calendar.list()), sorted(other.list()))

    def test_two_doors_on_one_store_agree_on_etags_and_tokens(self) -> None:
        first = self.calendar()
        second = self.calendar(self.icalendar_library())  # another process, one state folder
        apart = self.calendar(self.icalendar_library(), state=self.work + "/state-apart")
        start = first.sync()[0]
        first.put("a.ics", vcalendar("a", "From the first"))
        second.put("b.ics", vcalendar("b", "From the second"))
        self.cvcal("add", *self.where("--id", "h1", "--start", "2026-12-07T09:00Z", "--end",
                                      "2026-12-07T10:00Z"))
        answers = []
        for calendar in (first, second, apart):
            calendar.refresh()
            answers.append((sorted(calendar.list()), calendar.sync()[0]))
        self.assertEqual([answers[0]] * 3, answers)
        self.assertEqual(["a.ics", "b.ics", "h1.ics"], [o.href for o in answers[0][0]])
        # One change log: a token either door gave is the other's too.
        self.assertEqual(first.sync(start), second.sync(start))
        self.assertEqual((answers[0][1], ["a.ics", "b.ics", "h1.ics"]), first.sync(start))
        second.delete("a.ics")
        first.refresh()
        self.assertEqual(["a.ics"], first.sync(answers[0][1])[1])
        with self.assertRaises(CalendarError) as refused:
            first.sync("0" * 64)
        self.assertEqual("invalid-token", refused.exception.kind)

    def test_a_recurring_object_is_found_where_its_lines_do_not_reach(self) -> None:
        calendar = self.calendar()
        for rule, start, found, missed in (
                ("FREQ=YEARLY", "20270116T090000Z", "20290116", ["20270115"]),
                ("FREQ=WEEKLY", "20300107T090000Z", "20300114", ["20300106"]),
                ("FREQ=YEARLY;COUNT=2", "20270116T090000Z", "20280116", ["20290116"]),
                ("FREQ=DAILY;UNTIL=20301231T090000Z", "20300107T090000Z", "20301230",
                 ["20310102"])):
            with self.subTest(rule=rule, start=start):
                calendar.put("r.ics", vcalendar("r", "Repeats", "RRULE:" + rule, start=start))

                def near(day: str) -> list:
                    noon = int(time.mktime(time.strptime(day + "T12", "%Y%m%dT%H")))
                    return [o.href for o in calendar.in_range(noon - 3600, noon + 3600)]

                self.assertEqual(["r.ics"], near(found))
                for day in missed:
                    self.assertEqual([], near(day), day)
