"""The binding calls every export as a host does, refuses names that could leave the mailbox's
folders, and keeps the process-wide item read position to one reader at a time."""
import ctypes
import json
import os
import re
import threading

from support import DEC7, REPO, StoreTest

import cvaicp
from cvaicp import NotFoundError
from cvaicp._layout import EXPORTS


class BindingTest(StoreTest):
    def test_records_have_the_sizes_of_the_c_header(self) -> None:
        for record, size in ((cvaicp.AppointmentRequest, 648),
                             (cvaicp.AppointmentItemRequest, 8772),
                             (cvaicp.FreeBusyRequest, 8776), (cvaicp.ListContext, 5388),
                             (cvaicp.ListItem, 8780)):
            self.assertEqual(size, ctypes.sizeof(record), record.__name__)

    def test_round_trip_through_every_method(self) -> None:
        box, period = self.box, cvaicp.period_name(DEC7, DEC7 + 3600)
        self.assertEqual("Y26M12D07", period)
        self.assertTrue(box.add(period, DEC7, DEC7 + 3600, "a1"))
        self.assertFalse(box.add(period, DEC7, DEC7 + 3600, "a1"))
        body = b"Subject: Hello\r\n\r\n" + bytes(range(1, 256)) * 100  # several chunks
        self.assertTrue(box.write_item("a1", body))
        self.assertFalse(box.write_item("a1", b"a\0b"))  # chunks are texts: refused whole
        self.assertEqual(body, box.read_item("a1"))
        self.assertIsNone(box.read_item("missing"))
        self.assertEqual(cvaicp.Appointment(DEC7, DEC7 + 3600, "a1", period), box.get(period, "a1"))
        self.assertTrue(box.edit(period, "a1", DEC7 + 60, DEC7 + 120, new_id="a2"))
        self.assertEqual([cvaicp.Appointment(DEC7 + 60, DEC7 + 120, "a2", period)],
                         box.walk(period))
        self.assertRegex(self.cvcal("get", "--mailbox", "anna", "--postoffice", "po", "--id",
                                    "a2", "--period", period), r"start_seconds: +1796634060")
        self.assertEqual([7], box.free_busy("Y26M12"))
        self.assertEqual([period], box.period_names())
        self.assertEqual(["a1"], box.item_names("A"))
        box.write_item("a2", b"Subject: Listed\r\n\r\n")
        listed = box.list(DEC7 - 3600, DEC7 + 86400)
        self.assertEqual([(DEC7 + 60, DEC7 + 120, "a2")], [tuple(i[:3]) for i in listed])
        self.assertIn("<SUBJECT>Listed</SUBJECT>", listed[0].xml)
        self.assertTrue(box.remove(period, "a2"))
        box.delete_item("a2")
        self.assertEqual([], box.walk(period))
        self.assertEqual(["a1"], box.item_names("a"))

    def test_bad_names_are_refused_before_the_store(self) -> None:
        before = self.files()
        for postoffice, mailbox in (("", "anna"), (".", "anna"), ("..", "anna"), ("po", ".."),
                                    ("po", "a/b"), ("po", "a\\b"), ("po", "c:x"),
                                    ("po", "a\0b"), ("p" * 256, "anna")):
            with self.assertRaises(ValueError, msg=repr((postoffice, mailbox))):
                self.lib.mailbox(postoffice, mailbox)
        for call in (lambda: self.box.write_item("../x", b"x"),
                     lambda: self.box.add("Y", DEC7, DEC7, "a/b"),
                     lambda: self.box.add("../Y", DEC7, DEC7, "a"),
                     lambda: self.box.remove("Y", ""),  # the library's "every line"
                     lambda: self.box.read_item("x" * 64),
                     lambda: self.box.add("Y", 2**31, 2**31, "a"),
                     lambda: self.box.list(DEC7, DEC7, stylesheet="\0")):
            with self.assertRaises(ValueError):
                call()
        self.assertEqual(before, self.files())

    def test_threads_reading_items_at_once_get_their_own_bytes(self) -> None:
        items = {name: (name.encode() * 5000)[:20000] for name in ("left", "right")}
        for name, data in items.items():
            self.assertTrue(self.box.write_item(name, data))
        start = threading.Barrier(2)
        wrong = []

        def read(name: str) -> None:
            start.wait()
            for _ in range(200):
                if self.box.read_item(name) != items[name]:
                    wrong.append(name)

        threads = [threading.Thread(target=read, args=(n,)) for n in items]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual([], wrong)


class CausesTest(StoreTest):
    """What the binding cannot do it says, with the causes cvcal names, and changes nothing."""

    def test_a_missing_configuration_or_mailbox_raises_its_cause(self) -> None:
        period = "Y26M12D07"
        cases = [("po", "nobody", NotFoundError, "mailbox-not-found"),
                 ("px", "anna", NotFoundError, "postoffice-not-found")]
        for postoffice, mailbox, error, kind in cases:
            box = self.lib.mailbox(postoffice, mailbox)
            for call in (lambda: box.walk(period), lambda: box.add(period, DEC7, DEC7, "a"),
                         lambda: box.free_busy("Y26M12"), lambda: box.read_item("a")):
                with self.subTest(mailbox=mailbox), self.assertRaises(error) as raised:
                    call()
                self.assertEqual(kind, raised.exception.kind)
        os.environ["CVAICP_REGISTRY"] = os.path.join(self.work, "none.reg")
        with self.assertRaises(cvaicp.ConfigurationError):
            self.box.walk(period)

    def test_names_no_writer_makes_are_refused_and_days_come_sorted(self) -> None:
        before = self.files()
        for period in ("garbage", "Y26M13", "Y26M02D30", "Y26M12D7", "y26"):
            with self.subTest(period), self.assertRaises(cvaicp.RefusedError):
                self.box.add(period, DEC7, DEC7, "a")
        self.assertEqual(before, self.files())
        for day in (24, 7, 23, 16):
            start = DEC7 + (day - 7) * 86400
            self.assertTrue(self.box.add(cvaicp.period_name(start, start), start, start, "d%d" % day))
        self.assertEqual([7, 16, 23, 24], self.box.free_busy("Y26M12"))

    def test_every_export_of_the_table_is_declared(self) -> None:
        with open(os.path.join(REPO, "include", "cvaicp.def")) as f:
            names = re.findall(r"^\s+(\w+)\s+@\d+", f.read(), re.M)
        self.assertEqual(len(names), len(EXPORTS))
        for name in names:
            self.assertIsNotNone(getattr(self.lib.dll, name).argtypes, name)
        self.assertRegex(cvaicp.__version__, r"^\d+\.\d+\.\d+$")


class CalendarFolderTest(StoreTest):
    """The binding's Calendar folder is the library's, for every way a .reg file names the root:
    cvcal reindex reports the folder the library's own rule gives."""

    def test_the_folder_is_the_one_the_library_uses(self) -> None:
        for name, lines in (
                ("a Z: root", ['"Mail Root"="Z:%s"' % self.root.replace("/", "\\\\")]),
                ("Data Directory only", ['"Data Directory"="%s"' % self.work]),
                ("a separator at the end", ['"Mail Root"="%s/"' % self.root])):
            with self.subTest(name):
                if name == "Data Directory only":
                    os.makedirs(os.path.join(self.work, "Postoffices", "po", "MAILROOT", "anna"),
                                exist_ok=True)
                with open(self.reg, "w") as f:
                    f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\r\n" +
                            "\r\n".join(lines) + "\r\n")
                shown = json.loads(self.cvcal("--json", "reindex", "--mailbox", "anna",
                                              "--postoffice", "po"))["folder"]
                self.assertEqual(os.path.normpath(shown),
                                 os.path.normpath(self.box.calendar_folder))
