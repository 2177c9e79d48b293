"""iCalendar objects in a mailbox's calendar, in the layout that cvcal import and export share
(docs/ICALENDAR.md): one object per UID, its occurrences as appointments, the object kept whole
in its master's item file.

Every change goes through the exports; the Calendar folder's listing is only read, to find item
files by name."""
import functools
import hashlib
import os
import threading
import time
from typing import Dict, List, NamedTuple, Optional, Tuple

from ..mailbox import Appointment, Mailbox
from ..periods import period_name
from .ids import is_master_id, master_id, occurrence_id
from .item_text import ParsedItem, date_text, header_value, make_item, time_text
from .occurrences import EXPANSION_SECONDS, MAX_OCCURRENCES, Occurrence, expand, parse, seconds
from .synthesized import synthesized_vevent
from .work_bound import ExpansionTooLong

__all__ = ["master_id", "put_object", "delete_object", "objects", "object_by_href",
           "StoredObject", "CollisionError", "ExpansionTooLong"]


class StoredObject(NamedTuple):
    href: str
    uid: str
    master_id: str  # the id of its master appointment (for a host's appointment, that id)
    ics_text: str
    etag: str


class CollisionError(ValueError):
    """The master id of a UID is taken by an item of another UID (or of no object at all)."""


Lines = Dict[str, List[Appointment]]  # lower-case id: its lines in every period


def lines_by_id(mailbox: Mailbox) -> Lines:
    """Every period line of the mailbox by its id (lower case), read through the walk, or kept
    from an earlier walk of a period file that has not changed since (see _read_listed)."""
    found: Lines = {}
    signatures = _signatures(mailbox)
    for period in mailbox.period_names():
        try:
            appointments = _walk_listed(mailbox, period, signatures)
        except ValueError:  # a file whose name is no period the library reads
            continue
        for appointment in appointments:
            found.setdefault(appointment.item_id.lower(), []).append(appointment)
    return found


def _read(mailbox: Mailbox, item_id: str) -> Tuple[Optional[bytes], Optional[ParsedItem]]:
    try:
        data = mailbox.read_item_file(item_id)
    except ValueError:  # an id no item file can have
        return None, None
    return data, (ParsedItem(data) if data is not None else None)


# Items read for listings, by folder and name, with the file's signature when it was read. A
# CalDAV server lists the whole calendar for nearly every request; reading and parsing every item
# each time made it quadratic in a busy session. An entry is kept only for a file last written
# more than two seconds before it was read, so a later write always shows in its signature.
_ITEMS: Dict[Tuple[str, str], Tuple[Tuple[int, int, int], Optional[bytes], Optional[ParsedItem]]] = {}
_ITEMS_LOCK = threading.Lock()
_SETTLED_NS = 2 * 10**9


def _signatures(mailbox: Mailbox) -> Dict[str, Tuple[int, int, int]]:
    """The Calendar folder's files by lower-case name: modification time, size and inode."""
    try:
        with os.scandir(mailbox.calendar_folder) as entries:
            return {e.name.lower(): (s.st_mtime_ns, s.st_size, s.st_ino)
                    for e in entries if e.is_file() for s in (e.stat(),)}
    except OSError:
        return {}


def _read_listed(mailbox: Mailbox, item_id: str, signatures: Dict[str, Tuple[int, int, int]]
                 ) -> Tuple[Optional[bytes], Optional[ParsedItem]]:
    signature = signatures.get(item_id.lower())
    if signature is None:
        return _read(mailbox, item_id)
    key = (mailbox.calendar_folder, item_id.lower())
    with _ITEMS_LOCK:
        cached = _ITEMS.get(key)
    if cached is not None and cached[0] == signature:
        return cached[1], cached[2]
    data, item = _read(mailbox, item_id)
    if time.time_ns() - signature[0] > _SETTLED_NS:
        with _ITEMS_LOCK:
            if len(_ITEMS) > 100000:
                _ITEMS.clear()
            _ITEMS[key] = (signature, data, item)
    return data, item


_PERIODS: Dict[Tuple[str, str], Tuple[Tuple[int, int, int], List[Appointment]]] = {}


def _walk_listed(mailbox: Mailbox, period: str, signatures: Dict[str, Tuple[int, int, int]]
                 ) -> List[Appointment]:
    """A period's lines. A writer replaces a period file whole, so a file of the same signature
    holds the same lines."""
    signature = signatures.get(period.lower() + ".cal")
    key = (mailbox.calendar_folder, period.lower())
    with _ITEMS_LOCK:
        cached = _PERIODS.get(key)
    if signature is not None and cached is not None and cached[0] == signature:
        return cached[1]
    appointments = mailbox.walk(period)
    if signature is not None and time.time_ns() - signature[0] > _SETTLED_NS:
        with _ITEMS_LOCK:
            if len(_PERIODS) > 100000:
                _PERIODS.clear()
            _PERIODS[key] = (signature, appointments)
    return appointments


@functools.lru_cache(maxsize=4096)
def _uid_of(text: str) -> str:
    return parse(text).uid


def _is_occurrence_id(item_id: str) -> bool:
    head, dash, tail = item_id.partition("-")
    return bool(dash) and is_master_id(head) and tail.lstrip("-").isdigit()


# Writing --------------------------------------------------------------------------------------

def _item_bytes(obj, occurrence: Occurrence, master: str, href: Optional[str], now: int,
                first: bool) -> bytes:
    event = occurrence.event

    def text(name: str) -> str:
        return str(event.contents[name][0].value) if name in event.contents else ""

    stamp = seconds(event.dtstamp.value) if "dtstamp" in event.contents else now
    headers = [("Subject", text("summary")), ("X-Location", text("location")),
               ("X-StartTime", time_text(occurrence.start)),
               ("X-FinishTime", time_text(occurrence.finish)),
               ("X-AllDayEvent", "1" if occurrence.all_day else "0"),
               ("X-IsRecurring", "1" if obj.recurring else "0"),
               ("X-AppointmentUID", obj.uid)]
    if not first:
        headers.append(("X-CVOccurrenceOf", master))
    elif href:
        headers.append(("X-CVHref", href))
    headers.append(("Date", date_text(stamp)))
    return make_item(headers, text("description"), obj.text if first else None)


def _remove(mailbox: Mailbox, lines: Lines, ids: List[str]) -> None:
    """The lines of these appointments in every period, then their item files."""
    for item_id in ids:
        for appointment in lines.get(item_id.lower(), []):
            mailbox.remove(appointment.period, appointment.item_id)
    for item_id in ids:
        try:
            mailbox.delete_item(item_id)
        except ValueError:
            pass


def _object_ids(mailbox: Mailbox, lines: Lines, master: str) -> List[str]:
    """The master and its occurrences: by their item files and by their lines."""
    prefix = master.lower() + "-"
    ids = {name.lower(): name for name in mailbox.item_names(prefix)}
    ids.update({k: v[0].item_id for k, v in lines.items() if k.startswith(prefix)})
    return sorted(ids.values()) + [master]


def _calendar_folder(mailbox: Mailbox) -> None:
    """The Calendar folder, made as the first line's add would make it (never the mailbox's
    folder), since here the item files come before the lines."""
    folder = mailbox.calendar_folder
    if not os.path.isdir(folder) and os.path.isdir(os.path.dirname(folder)):
        os.mkdir(folder)


def put_object(mailbox: Mailbox, ics_text: str, href: Optional[str] = None,
               horizon_days: int = 365, now: Optional[int] = None,
               max_occurrences: int = MAX_OCCURRENCES,
               expansion_seconds: Optional[float] = EXPANSION_SECONDS) -> str:
    """Adds or replaces the object of the text's UID: "added", "replaced" or "unchanged". At most
    max_occurrences of its occurrences become appointments; rules that take more than
    expansion_seconds of processor time are refused (ExpansionTooLong) with nothing changed."""
    obj = parse(ics_text)
    now = int(time.time() if now is None else now)
    occurrences = expand(obj, now + int(horizon_days) * 86400, max_occurrences,
                         expansion_seconds)
    master = master_id(obj.uid)
    lines = lines_by_id(mailbox)
    _, old = _read(mailbox, master)
    if old is not None:
        if old.header("X-AppointmentUID") != header_value(obj.uid):
            raise CollisionError("the item %s belongs to another object" % master)
        same_href = href is None or old.header("X-CVHref") == header_value(href)
        if old.calendar == obj.text + "\r\n" and same_href and master.lower() in lines:
            return "unchanged"
    if href is None and old is not None and old.header("X-CVHref"):
        href = old.header("X-CVHref")  # a replacement that names none keeps the client's name
    items: List[Tuple[str, bytes, Occurrence]] = []
    seen = set()
    for n, occurrence in enumerate(occurrences):
        item_id = master if n == 0 else occurrence_id(master, occurrence.start)
        if item_id not in seen:
            seen.add(item_id)
            items.append((item_id, _item_bytes(obj, occurrence, master, href, now, n == 0),
                          occurrence))
    # A host's appointment that a client sends back (its UID is the appointment's id) is
    # replaced by the object, not doubled.
    host_made = obj.uid.lower() in lines and not is_master_id(obj.uid) and \
        not _is_occurrence_id(obj.uid)
    replaced = old is not None or master.lower() in lines or host_made
    _remove(mailbox, lines, _object_ids(mailbox, lines, master))
    if host_made:
        _remove(mailbox, lines, [lines[obj.uid.lower()][0].item_id])
    # Items first, then lines, the master's last: a reader never meets a line without its item,
    # and the object is complete once the master's line is there.
    ordered = items[1:] + items[:1]
    _calendar_folder(mailbox)
    for item_id, data, _ in ordered:
        if not mailbox.write_item(item_id, data):
            raise OSError("the item %s could not be written" % item_id)
    for item_id, _, o in ordered:
        if not mailbox.add(period_name(o.start, o.finish), o.start, o.finish, item_id):
            raise OSError("the store refused the line of %s" % item_id)
    return "replaced" if replaced else "added"


def delete_object(mailbox: Mailbox, uid_or_master_id: str) -> bool:
    """Removes an object, named by its UID or its master's id; False when there is none."""
    lines = lines_by_id(mailbox)
    key = uid_or_master_id
    for master in (master_id(key), key):
        if not is_master_id(master):
            continue
        _, item = _read(mailbox, master)
        if item is not None or master.lower() in lines:
            _remove(mailbox, lines, _object_ids(mailbox, lines, master))
            return True
    # An appointment made without a calendar part: its UID is its id.
    if key.lower() in lines and not _is_occurrence_id(key):
        _, item = _read(mailbox, key)
        if item is None or not item.header("X-CVOccurrenceOf"):
            _remove(mailbox, lines, [lines[key.lower()][0].item_id])
            return True
    return False


# Reading --------------------------------------------------------------------------------------

def _etag(data: Optional[bytes], appointments: List[Appointment]) -> str:
    digest = hashlib.sha256(data or b"")
    for a in sorted(appointments):
        digest.update(("\n%d\t%d\t%s" % (a.start, a.finish, a.period)).encode())
    return '"%s"' % digest.hexdigest()


def _printable(item_id: str) -> str:
    """An id with bytes that are not UTF-8 (a host's code page) as Windows-1252 text."""
    return item_id.encode("utf-8", "surrogateescape").decode("utf-8", "cvaicp-cp1252")


def objects(mailbox: Mailbox) -> List[StoredObject]:
    """Every object of the calendar: its masters' and the host-made appointments."""
    found = []
    signatures = _signatures(mailbox)
    lines = lines_by_id(mailbox)
    for key, appointments in lines.items():
        first = appointments[0]
        if _is_occurrence_id(first.item_id) and key.partition("-")[0] in lines:
            continue  # an occurrence of a master that is there: the master answers for it
        data, item = _read_listed(mailbox, first.item_id, signatures)
        if item is not None and item.header("X-CVOccurrenceOf"):
            continue
        if item is None and _is_occurrence_id(first.item_id):
            continue  # an occurrence whose item is gone: its master answers for it
        text = uid = None
        if item is not None and item.calendar is not None:
            text = item.calendar[:-2] if item.calendar.endswith("\r\n\r\n") else item.calendar
            try:
                parsed = _uid_of(text)
                uid = item.header("X-AppointmentUID") or parsed
            except ValueError:  # a calendar part that is no object: the line and headers speak
                text = None
        name = _printable(first.item_id)
        if text is None:
            text = synthesized_vevent(name, first.start, first.finish, item)
            uid = name
        href = (item.header("X-CVHref") if item is not None else "") or name + ".ics"
        found.append(StoredObject(href, uid, first.item_id, text, _etag(data, appointments)))
    return sorted(found, key=lambda o: o.href)


def object_by_href(mailbox: Mailbox, href: str) -> Optional[StoredObject]:
    for stored in objects(mailbox):
        if stored.href == href:
            return stored
    return None
