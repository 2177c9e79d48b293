"""Radicale's storage over the calendar store: the folders of the mail root are the collections
(postoffices, then mailboxes), each mailbox has one calendar and is its user's calendar home, and
users' principals exist without a folder. Collections are made and removed by the mail server,
never here."""
import os
import threading
from typing import Dict, Iterable, Iterator, Mapping, Optional, Tuple

from radicale import item as radicale_item
from radicale import storage, types

from cvaicp import icalendar
from cvaicp.registry import find_no_case, mail_root

from .collection import CalendarCollection, Collection
from . import expand, home, mkcalendar, path_cache, propfind, reports, time_ranges
from .paths import CALENDAR, Place, split
from .refusals import Refused
from .rwlock import ReadWriteLock


def _folders(path: str) -> list:
    try:
        return sorted(e.name for e in os.scandir(path) if e.is_dir())
    except OSError:
        return []


class Storage(storage.BaseStorage):
    def __init__(self, configuration) -> None:
        super().__init__(configuration)
        self.library = icalendar.Library()
        self.state_folder = os.path.abspath(configuration.get("storage", "filesystem_folder"))
        defaults = icalendar.Window()
        self.window = icalendar.Window(
            int(os.environ.get("CVAICP_BACK_DAYS", defaults.back_days)),
            int(os.environ.get("CVAICP_HORIZON_DAYS", defaults.horizon_days)),
            int(os.environ.get("CVAICP_MAX_OCCURRENCES", defaults.max_occurrences)))
        self.expansion_seconds = float(os.environ.get("CVAICP_EXPANSION_SECONDS",
                                                      time_ranges.EXPANSION_SECONDS))
        self._calendars: Dict[Tuple[str, str], icalendar.Calendar] = {}
        self._locks: Dict[str, ReadWriteLock] = {}
        self._locks_lock = threading.Lock()
        self._known_root: Optional[tuple] = None
        home.install()
        mkcalendar.install()
        expand.install(self.expansion_seconds)
        reports.install()  # ahead of expand's, which it leaves every expansion to
        propfind.install()
        time_ranges.install(self.expansion_seconds)
        path_cache.install()

    def calendar(self, postoffice: str, mailbox: str) -> icalendar.Calendar:
        """The mailbox's calendar, opened once for the process (and rolled to the window each
        day it is used): its names are found without regard to case, as the store finds them."""
        key = (postoffice.lower(), mailbox.lower())
        with self._locks_lock:
            found = self._calendars.get(key)
            if found is None:
                found = self.library.open(postoffice, mailbox, self.state_folder, self.window)
                self._calendars[key] = found
        return found

    def is_mailbox_calendar(self, path: str) -> bool:
        parts = split(path)
        place = self._place(parts) if parts is not None else None
        return place is not None and place.kind == "calendar"

    # Where things are ------------------------------------------------------------------------

    def _root(self) -> str:
        # The .reg file is read again only when it has changed: a request looks for the root
        # a few times, and the file holds more than the root.
        path = os.environ.get("CVAICP_REGISTRY") or ""
        try:
            st = os.stat(path)
            signature = (path, st.st_ino, st.st_size, st.st_mtime_ns)
        except OSError:
            signature = None
        known = self._known_root
        if signature is None or known is None or known[0] != signature:
            known = (signature, mail_root())
            self._known_root = known
        if known[1] is None:
            raise RuntimeError("no mail root: $CVAICP_REGISTRY names no .reg file with one")
        return known[1]

    def _postoffice_folder(self, postoffice: str) -> str:
        return find_no_case(self._root(), postoffice)

    def _mailbox_folder(self, postoffice: str, mailbox: str) -> str:
        return find_no_case(self._root(), postoffice, "MAILROOT", mailbox)

    def _place(self, parts: list) -> Optional[Place]:
        """What the segments name, when it is there."""
        n = len(parts)
        if n == 0:
            return Place("root", ())
        if n == 1:
            if os.path.isdir(self._postoffice_folder(parts[0])):
                return Place("postoffice", tuple(parts))
            return Place("principal", tuple(parts)) if "@" in parts[0] else None
        if not os.path.isdir(self._mailbox_folder(parts[0], parts[1])):
            return None
        if n == 2:
            return Place("mailbox", tuple(parts))
        if n == 3 and parts[2] == CALENDAR:
            return Place("calendar", tuple(parts))
        return None

    def _collection(self, place: Place) -> Collection:
        if place.kind == "calendar":
            return CalendarCollection(self, place)
        return Collection(self, place)

    def _children(self, place: Place) -> Iterator[Collection]:
        if place.kind == "root":
            names = _folders(self._root())
        elif place.kind == "postoffice":
            names = _folders(find_no_case(self._postoffice_folder(place.parts[0]), "MAILROOT"))
        elif place.kind == "mailbox":
            names = [CALENDAR]  # the calendar home's one member
        else:
            return  # a principal has none: its calendar-home-set names the mailbox (home.py)
        for name in names:
            found = self._place(list(place.parts) + [name])
            if found is not None:
                yield self._collection(found)

    # Radicale's storage interface ------------------------------------------------------------

    def discover(self, path: str, depth: str = "0") -> Iterable[types.CollectionOrItem]:
        parts = split(path)
        if parts is None:
            return
        place = self._place(parts)
        if place is None and len(parts) == 4:
            calendar = self._place(parts[:3])
            if calendar is not None and calendar.kind == "calendar":
                collection = CalendarCollection(self, calendar)
                item = next(iter(collection.get_multi([parts[3]])))[1]
                if item is not None:
                    yield item
            return
        if place is None:
            return
        collection = self._collection(place)
        yield collection
        if depth == "0":
            return
        yield from collection.get_all()
        yield from self._children(place)

    def move(self, item: radicale_item.Item, to_collection: storage.BaseCollection,
             to_href: str) -> None:
        source = item.collection
        if not isinstance(source, CalendarCollection) or \
                not isinstance(to_collection, CalendarCollection) or \
                source.path != to_collection.path:
            raise Refused("objects move only within one calendar")
        # The object is its UID: stored again under the new name, it leaves the old one.
        to_collection.upload(to_href, item)

    def create_collection(self, href: str,
                          items: Optional[Iterable[radicale_item.Item]] = None,
                          props: Optional[Mapping[str, str]] = None) -> storage.BaseCollection:
        """Only a mailbox's existing calendar, and then only its properties: mailboxes and their
        calendars are made by the mail server."""
        parts = split(href)
        place = self._place(parts) if parts is not None else None
        if place is None or place.kind != "calendar" or items is not None:
            raise Refused("collections are made by the mail server, not here: %r" % href)
        collection = CalendarCollection(self, place)
        if props:
            collection.set_meta({k: v for k, v in props.items() if k != "tag"})
        return collection

    @types.contextmanager
    def acquire_lock(self, mode: str, user: str = "") -> Iterator[None]:
        """The user's own lock. A user reaches only its own calendar (rights), so its lock keeps
        that calendar's readers and writers in this process in order, and no other user's request
        ever waits for it: one slow or hostile request holds up only its own user. Mailbox names
        are found without regard to case, so users that differ only in case share one lock."""
        with self._locks_lock:
            lock = self._locks.setdefault(user.lower(), ReadWriteLock())
        with lock.hold(mode):
            yield

    def verify(self) -> bool:
        return True
