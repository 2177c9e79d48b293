#!/usr/bin/env python3
"""Every command's --json output is what docs/CVCAL-JSON.md says: no documented field missing (but
those marked as present only sometimes), no field that is not documented, each of its type.
usage: cvcal_json_test.py CVCAL DOC"""
import json
import os
import re
import subprocess
import sys
import tempfile

TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
TYPES = {
    "number": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "text": lambda v: isinstance(v, str),
    "time": lambda v: isinstance(v, str) and bool(TIME.match(v)),
    "bool": lambda v: isinstance(v, bool),
    "null": lambda v: v is None,
    "list of numbers": lambda v: isinstance(v, list) and all(TYPES["number"](n) for n in v),
}


def documented(doc: str) -> dict:
    """Command name: {field: (types, always there)}, from the sections' tables."""
    sections, name = {}, None
    for line in doc.splitlines():
        if line.startswith("## "):
            name = line[3:].strip()
            sections[name] = {}
        cells = [c.strip() for c in re.split(r"(?<!\\)\|", line)[1:-1]]
        if name and len(cells) == 2 and cells[0] not in ("field", "---"):
            kind = cells[1].replace("\\|", "|")
            always = "(" not in kind
            sections[name][cells[0]] = (kind.split(" (")[0].split("|"), always)
    return sections


NUMBER_LISTS = {"busy_days"}


def fields(value, prefix=""):
    """Every field of the output as documented names: a list of objects as name[].field."""
    for key, item in value.items():
        name = prefix + key
        if isinstance(item, dict):
            yield from fields(item, name + ".")
        elif isinstance(item, list) and all(isinstance(row, dict) for row in item):
            # A list of objects (an empty one too, which "list of numbers" also allows).
            if not item and prefix + key in NUMBER_LISTS:
                yield name, item
            for row in item:
                yield from fields(row, name + "[].")
        else:
            yield name, item


def main() -> int:
    cvcal, doc = sys.argv[1], open(sys.argv[2], encoding="utf-8").read()
    sections = documented(doc)
    failures, seen = [], set()
    with tempfile.TemporaryDirectory() as work:
        reg = os.path.join(work, "r.reg")
        os.makedirs(os.path.join(work, "store", "po", "MAILROOT", "anna"))
        body = os.path.join(work, "body.txt")
        with open(body, "w") as f:
            f.write("a body\n")
        ics = os.path.join(work, "one.ics")
        with open(ics, "w") as f:
            f.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:u1\r\nDTSTAMP:20261201T"
                    "000000Z\r\nDTSTART:20261208T090000Z\r\nDTEND:20261208T100000Z\r\nSUMMARY:S"
                    "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
        mb = ["--mailbox", "anna", "--postoffice", "po"]
        day = ["--from", "2026-12-07T00:00Z", "--to", "2026-12-07T23:00Z"]
        runs = [
            ("config set-root", [os.path.join(work, "store")]), ("config set-waits", ["0"]),
            ("config host", ["h", "--address", "127.0.0.1"]), ("config show", []),
            ("add", mb + ["--id", "a1", "--subject", "S", "--start", "2026-12-07T09:00Z",
                          "--end", "2026-12-07T10:00Z"]),
            ("get", mb + ["--id", "a1", "--period", "Y26M12D07"]),
            ("edit", mb + ["--id", "a1", "--period", "Y26M12D07", "--new-start",
                           "2026-12-07T10:00Z", "--new-end", "2026-12-07T11:00Z"]),
            ("walk", mb + ["--period", "Y26M12D07"]), ("find", mb + ["--id", "a1"]),
            ("list", mb + day), ("freebusy", mb + ["--month", "2026-12"]),
            ("period-name", ["--start", "2026-12-07T10:00Z", "--end", "2026-12-07T11:00Z"]),
            ("item put", mb + ["--id", "b1", "--file", body]), ("item get", mb + ["--id", "b1"]),
            ("item size", mb + ["--id", "b1"]), ("item delete", mb + ["--id", "b1"]),
            ("reindex", mb), ("index show", mb), ("props list", []),
            ("props get", mb + ["--id", "a1", "--name", "PR_SUBJECT"]),
            ("props get", mb + ["--id", "a1", "--name", "PR_START_DATE"]),
            ("props set", mb + ["--id", "a1", "--name", "PR_SUBJECT", "--value", "T"]),
            ("import", [ics] + mb), ("export", mb),
            ("remove", mb + ["--id", "a1", "--period", "Y26M12D07"]),
            ("Failures", ["walk"] + mb),
        ]
        for name, args in runs:
            if name not in sections:
                failures.append("%s: not documented" % name)
                continue
            seen.add(name)
            command = name.split() if name != "Failures" else []
            done = subprocess.run([cvcal, "--registry", reg, "--json", *command, *args],
                                  capture_output=True)
            try:
                output = json.loads(done.stdout.decode("utf-8"))
            except ValueError as e:
                failures.append("%s: no JSON (%s): %r" % (name, e, done.stdout[:200]))
                continue
            if (name == "Failures") != ("error" in output):
                failures.append("%s: %s" % (name, output))
                continue
            expected = sections[name]
            got = dict(fields(output))
            for field, value in got.items():
                if field not in expected:
                    failures.append("%s: %s is not documented" % (name, field))
                elif not any(TYPES[t](value) for t in expected[field][0]):
                    failures.append("%s: %s = %r is no %s" % (name, field, value,
                                                            "|".join(expected[field][0])))
            for field, (_, always) in expected.items():
                if always and field not in got and "[]." not in field:
                    failures.append("%s: %s is missing" % (name, field))
    platform_only = {"config import"}
    for name in set(sections) - seen - platform_only:
        failures.append("%s: documented but not run here" % name)
    for failure in failures:
        print("FAIL:", failure)
    print("cvcal json: %d sections, %d failures" % (len(sections), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
