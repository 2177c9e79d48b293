#!/usr/bin/env python3
"""Every text a store can hold comes out of cvcal's --json as well-formed UTF-8: real messages of a
public mail test corpus (the Python test suite's, from the Debian package libpython3.11-testsuite)
and made-up items in UTF-8, Latin-1, with control characters and a NUL; and the index's ASCII
header fields are what a standard mail parser reads (8-bit texts are the index tests' own).
usage: store_texts_test.py CVCAL"""
import email.parser
import json
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

CORPUS = "/usr/lib/python3.11/test/test_email/data"
MESSAGES = ["msg_01.txt", "msg_02.txt", "msg_05.txt", "msg_07.txt", "msg_15.txt", "msg_46.txt"]
MADE_UP = {
    "utf8": b"From: Ren\xc3\xa9e <r@example.com>\r\nSubject: Caf\xc3\xa9 cr\xc3\xa8me \xe2\x82\xac\r\n\r\nx",
    "latin1": b"From: J\xfcrgen <j@example.com>\r\nSubject: Gr\xfc\xdfe \x80 \x81\r\n\r\nx",
    "control": b"Subject: a\x01b\x1fc\x7f\r\nX-Location: \"q\" \\ <x>\r\n\r\nx",
    "nul": b"Subject: before\x00after\r\nX-Location: here\r\n\r\nx",
}


def main():
    cvcal = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as work:
        calendar = os.path.join(work, "store", "po", "MAILROOT", "anna", "Calendar")
        os.makedirs(calendar)
        reg = os.path.join(work, "r.reg")
        with open(reg, "w") as f:
            f.write('Windows Registry Editor Version 5.00\n\n'
                    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n'
                    '"Mail Root"="%s"\n' % os.path.join(work, "store"))
        items = dict(MADE_UP)
        for name in MESSAGES:
            with open(os.path.join(CORPUS, name), "rb") as f:
                items[name] = f.read()
        lines = []
        for n, (item, raw) in enumerate(sorted(items.items())):
            with open(os.path.join(calendar, item), "wb") as f:
                f.write(raw)
            start = 1796634000 + 60 * n  # 2026-12-07
            lines.append(b"%d\t%d\t%s" % (start, start + 30, item.encode()))
        lines.append(b"1796634000\t1796634030\tJ\xfcrgen")  # an 8-bit id without an item file
        with open(os.path.join(calendar, "Y26M12D07.CAL"), "wb") as f:
            f.write(b"\r\n".join(lines))

        def run(*args):
            result = subprocess.run([cvcal, "--registry", reg, "--json", *args],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            try:
                return json.loads(result.stdout.decode("utf-8"))
            except (UnicodeDecodeError, ValueError) as e:
                failures.append("%s: not JSON in UTF-8: %s" % (" ".join(args), e))
                return {}

        mb = ["--mailbox", "anna", "--postoffice", "po"]
        run("reindex", *mb)
        shown = run("index", "show", *mb)
        for args in (["walk", *mb, "--period", "Y26M12D07"], ["config", "show"], ["props", "list"],
                     ["list", *mb, "--from", "2026-12-07T00:00Z", "--to", "2026-12-07T23:59Z"],
                     ["freebusy", *mb, "--month", "2026-12"]):
            run(*args)
        for item in items:
            run("get", *mb, "--period", "Y26M12D07", "--id", item)
            run("item", "get", *mb, "--id", item)
            run("props", "get", *mb, "--id", item, "--name", "PR_SUBJECT")

        root = ET.fromstring(shown.get("xml", "<BASEELEMENT/>").encode("utf-8"))
        for element in root:
            item = element.get("ID")
            parsed = email.parser.BytesHeaderParser().parsebytes(items[item].split(b"\x00")[0])
            first = {name.lower(): value for name, value in reversed(list(parsed.raw_items()))}
            for header, child in (("subject", "SUBJECT"), ("from", "FROM")):
                want = first.get(header)
                if want is None or not (want.isascii() and want.isprintable()):
                    continue  # folded lines (the index keeps the first) and 8-bit texts
                got = (element.findtext(child) or "").strip(" ")
                if got != want.strip(" "):
                    failures.append("%s %s: %r, mail parser %r" % (item, child, got, want))
        if len(root) != len(items):
            failures.append("index holds %d items of %d" % (len(root), len(items)))
    for failure in failures:
        print("FAIL:", failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
