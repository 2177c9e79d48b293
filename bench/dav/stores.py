"""The two stores of one size, written directly: the mail store in the layout of
docs/ICALENDAR.md (an item file per appointment, its line in its period file) and a Radicale
calendar collection (an .ics file per event). Writing 50,000 appointments through the exports
would take long; writing the files takes seconds. What is written for the mail store is checked
against what `cvcal import` makes of the same events (check_against_import), byte for byte.

build/bench-dav/<size>/
    manifest.json   what was built, when, with which generator; written last, so a store
                    without one is incomplete and made again
    in-use          there while a run measures: its rows change the calendar and put it back,
                    so a store left with it (a run stopped, a request cut off) is made again
    mail/           the mail root: example/MAILROOT/anna/Calendar
    radicale/       Radicale's folder: collection-root/anna@example/calendar
    users           htpasswd (bcrypt) with the one user, password in the manifest
    state/          the door's state folder (its .reg file, configuration, sync tokens)"""
import filecmp
import json
import os
import secrets
import shutil
import subprocess
import tempfile
import time
from typing import Dict, List, Optional

from item_files import date_text, make_item, master_id, time_text
from cvaicp.periods import period_name

import events

# Made again when this changes: the events, their texts or the layout.
GENERATOR = 3
POSTOFFICE, MAILBOX = "example", "anna"
USER = "%s@%s" % (MAILBOX, POSTOFFICE)
# The user's calendar: where the door has it, and where Radicale's own rights (owner_only) let
# the user have it, below its principal.
CALENDAR_PATH = {"ours": "/%s/%s/calendar/" % (POSTOFFICE, MAILBOX),
                 "radicale": "/%s/calendar/" % USER}
# The marker the library writes into a Calendar folder with each change.
_CHANGE_FILE, _CHANGE_TEXT = "_CHANGE.DTY", b"This file has been written to denote configuration change\r\n"
# bcrypt, as the door takes passwords, at its lowest cost: both servers verify the password of
# every request against every line of the file, and at the usual cost (12) that alone takes half
# a second, which would drown what is measured.
BCRYPT_ROUNDS = 4


class Layout:
    def __init__(self, root: str, size: int) -> None:
        self.size = size
        self.folder = os.path.join(root, str(size))
        self.manifest = os.path.join(self.folder, "manifest.json")
        self.in_use = os.path.join(self.folder, "in-use")
        self.mail_root = os.path.join(self.folder, "mail")
        self.calendar_folder = os.path.join(self.mail_root, POSTOFFICE, "MAILROOT", MAILBOX,
                                            "Calendar")
        self.radicale = os.path.join(self.folder, "radicale")
        self.radicale_calendar = os.path.join(self.radicale, "collection-root", USER, "calendar")
        self.users = os.path.join(self.folder, "users")
        self.state = os.path.join(self.folder, "state")

    def read_manifest(self) -> Optional[Dict]:
        """The manifest of a complete store as this generator makes it, left as it was made;
        else None."""
        if os.path.exists(self.in_use):
            return None
        try:
            with open(self.manifest, encoding="utf-8") as f:
                manifest = json.load(f)
        except (OSError, ValueError):
            return None
        if manifest.get("generator") != GENERATOR or manifest.get("size") != self.size:
            return None
        return manifest


# The mail store ------------------------------------------------------------------------------

def _line_times(event: events.Event):
    """The appointment's start and finish as its line holds them: an all-day event ends at
    23:59:59 of its last day."""
    return event.start, (event.end - 1 if event.all_day else event.end)


def _master_item(event: events.Event) -> bytes:
    start, finish = _line_times(event)
    headers = [("Subject", event.summary), ("X-Location", event.location),
               ("X-StartTime", time_text(start)), ("X-FinishTime", time_text(finish)),
               ("X-AllDayEvent", "1" if event.all_day else "0"), ("X-IsRecurring", "0"),
               ("X-AppointmentUID", event.uid), ("Date", date_text(event.start - 7 * 86400))]
    return make_item(headers, event.description, events.ics_text(event))


def write_mail_store(calendar_folder: str, found: List[events.Event]) -> None:
    """Item files, then the period files with their lines in the order of the events, as
    importing the events in that order leaves them."""
    os.makedirs(calendar_folder)
    periods: Dict[str, List[str]] = {}
    for event in found:
        item_id = master_id(event.uid)
        with open(os.path.join(calendar_folder, item_id), "wb") as f:
            f.write(_master_item(event))
        start, finish = _line_times(event)
        periods.setdefault(period_name(start, finish), []).append(
            "%d\t%d\t%s" % (start, finish, item_id))
    for period, lines in periods.items():
        with open(os.path.join(calendar_folder, period + ".CAL"), "wb") as f:
            f.write("\r\n".join(lines).encode("ascii"))
        # Each add after a period's first replaces its file and keeps the content before as
        # the period's backup: after the last add, every line but the last.
        if len(lines) > 1:
            with open(os.path.join(calendar_folder, period + ".BAK"), "wb") as f:
                f.write("\r\n".join(lines[:-1]).encode("ascii"))
    with open(os.path.join(calendar_folder, _CHANGE_FILE), "wb") as f:
        f.write(_CHANGE_TEXT)


# Radicale's store ----------------------------------------------------------------------------

def write_radicale_store(collection: str, found: List[events.Event]) -> None:
    """A calendar collection as Radicale's multifilesystem keeps one: its properties, then one
    file per event named by its href. Below the user's principal collection, which Radicale
    would make at the user's first request."""
    os.makedirs(collection)
    props = {"C:supported-calendar-component-set": "VEVENT", "D:displayname": MAILBOX,
             "tag": "VCALENDAR"}
    with open(os.path.join(collection, ".Radicale.props"), "w", encoding="utf-8") as f:
        json.dump(props, f)
    for event in found:
        with open(os.path.join(collection, event.href), "wb") as f:
            f.write(events.ics_text(event).encode("utf-8"))


# The check against cvcal import --------------------------------------------------------------

def sample(found: List[events.Event]) -> List[events.Event]:
    """Events of every kind: the first 120 (timed, all-day, several days where they fall), the
    first few all-day ones over several days, and some of the busy day."""
    spread = len(found) - len(found) // events.BUSY_SHARE
    chosen = {e.number for e in found[:min(120, spread)]}
    chosen |= {e.number for e in found[:spread] if e.all_day and e.end - e.start > 86400}
    chosen |= {e.number for e in found[spread:spread + 20]}
    return [e for e in found if e.number in chosen][:400]


def _differences(a: str, b: str, where: str = "") -> List[str]:
    found = []
    names_a, names_b = set(os.listdir(a)), set(os.listdir(b))
    for name in sorted(names_a ^ names_b):
        found.append("%s%s: only in %s" % (where, name, "the direct store" if name in names_a
                                           else "the imported store"))
    for name in sorted(names_a & names_b):
        path_a, path_b = os.path.join(a, name), os.path.join(b, name)
        if os.path.isdir(path_a) and os.path.isdir(path_b):
            found += _differences(path_a, path_b, where + name + "/")
        elif not filecmp.cmp(path_a, path_b, shallow=False):
            found.append("%s%s: the bytes differ" % (where, name))
    return found


def check_against_import(found: List[events.Event], cvcal: str, environment: Dict) -> List[str]:
    """The differences between the direct writer's files and cvcal import's for a sample of the
    events (none when they agree)."""
    chosen = sample(found)
    with tempfile.TemporaryDirectory(prefix="dav-bench-check-") as work:
        direct = os.path.join(work, "direct", POSTOFFICE, "MAILROOT", MAILBOX)
        imported = os.path.join(work, "imported", POSTOFFICE, "MAILROOT", MAILBOX)
        write_mail_store(os.path.join(direct, "Calendar"), chosen)
        os.makedirs(imported)
        ics = os.path.join(work, "sample.ics")
        with open(ics, "w", encoding="utf-8", newline="") as f:
            f.write(events.calendar_text(chosen, prodid="-//CVAICP//dav bench//EN"))
        registry = os.path.join(work, "store.reg")
        for command in (["config", "set-root", os.path.join(work, "imported")],
                        ["import", ics, "--mailbox", MAILBOX, "--postoffice", POSTOFFICE]):
            done = subprocess.run([cvcal, "--registry", registry] + command, env=environment,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if done.returncode != 0:
                return ["cvcal %s failed (%d): %s" % (command[0], done.returncode,
                                                      done.stdout.strip())]
        return _differences(os.path.join(direct, "Calendar"), os.path.join(imported, "Calendar"))


# Building ------------------------------------------------------------------------------------

def build(layout: Layout, found: List[events.Event]) -> Dict:
    """Both stores made anew; their manifest, to be written once they are ready."""
    if os.path.exists(layout.folder):
        shutil.rmtree(layout.folder)
    os.makedirs(layout.folder)
    began = time.monotonic()
    write_mail_store(layout.calendar_folder, found)
    write_radicale_store(layout.radicale_calendar, found)
    os.makedirs(layout.state)
    from passlib.hash import bcrypt
    password = secrets.token_urlsafe(12)
    with open(layout.users, "w", encoding="utf-8") as f:
        f.write("%s:%s\n" % (USER, bcrypt.using(rounds=BCRYPT_ROUNDS).hash(password)))
    manifest = {"generator": GENERATOR, "size": layout.size, "events": len(found),
                "built": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
                "build_id": secrets.token_hex(8), "user": USER, "password": password,
                "write_seconds": round(time.monotonic() - began, 3)}
    return manifest


def write_manifest(layout: Layout, manifest: Dict) -> None:
    """Marks the stores complete (and their first reads measured): later runs take them."""
    with open(layout.manifest, "w", encoding="utf-8") as f:
        json.dump(manifest, f, indent=1)


def mark_in_use(layout: Layout) -> None:
    with open(layout.in_use, "w", encoding="utf-8") as f:
        f.write("a run measures, or one was stopped before it put the calendar back\n")


def mark_unchanged(layout: Layout) -> None:
    os.remove(layout.in_use)
