"""Radicale's collections over the store: folders without items (the root, principals,
postoffices, mailboxes) and a mailbox's calendar, whose items are its iCalendar objects."""
import hashlib
import json
import os
import time
import xml.etree.ElementTree as ET
from typing import TYPE_CHECKING, Dict, Iterable, Iterator, List, Mapping, Optional, Tuple

from radicale import item as radicale_item
from radicale import storage
from radicale.item import filter as radicale_filter

from cvaicp import icalendar_store
from cvaicp.registry import find_no_case

from . import sync_history
from .paths import Place, safe_href
from .refusals import Refused

if TYPE_CHECKING:
    from .storage import Storage

# Line times are UTC; Radicale's filter reads all-day and floating times in UTC: the narrowing
# by lines widens each range by the largest zone offset so that it never drops a match.
_ZONE_SLACK = 14 * 3600


def _http_time(seconds: float) -> str:
    return time.strftime("%a, %d %b %Y %H:%M:%S GMT", time.gmtime(seconds))


class Collection(storage.BaseCollection):
    def __init__(self, storage_: "Storage", place: Place) -> None:
        self._storage = storage_
        self.place = place

    @property
    def path(self) -> str:
        return self.place.path

    # Metadata a client set (display name, colour) lives in the state folder.
    def _meta_file(self) -> str:
        name = hashlib.sha256(self.path.encode("utf-8", "surrogateescape")).hexdigest()
        return os.path.join(self._storage.state_folder, "meta", name + ".json")

    def _defaults(self) -> Dict[str, str]:
        return {}

    def get_meta(self, key: Optional[str] = None):
        meta = dict(self._defaults())
        try:
            with open(self._meta_file(), encoding="utf-8") as f:
                stored = json.load(f)
            meta.update({k: v for k, v in stored.items()
                         if isinstance(k, str) and isinstance(v, str) and k != "tag"})
        except (OSError, ValueError, AttributeError):
            pass
        return meta if key is None else meta.get(key)

    def set_meta(self, props: Mapping[str, str]) -> None:
        kept = {k: v for k, v in props.items() if k != "tag"}
        os.makedirs(os.path.dirname(self._meta_file()), exist_ok=True)
        temporary = self._meta_file() + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump(kept, f)
        os.replace(temporary, self._meta_file())

    @property
    def last_modified(self) -> str:
        return _http_time(0)

    def get_multi(self, hrefs: Iterable[str]):
        return ((href, None) for href in hrefs)

    def get_all(self) -> Iterator[radicale_item.Item]:
        return iter(())

    def upload(self, href: str, item: radicale_item.Item) -> radicale_item.Item:
        raise Refused("only a mailbox's calendar holds items")

    def delete(self, href: Optional[str] = None) -> None:
        raise Refused("collections are made and removed by the mail server")


class CalendarCollection(Collection):
    """/POSTOFFICE/MAILBOX/calendar/: one item per iCalendar object of the mailbox."""

    def __init__(self, storage_: "Storage", place: Place) -> None:
        super().__init__(storage_, place)
        self.mailbox = storage_.library.mailbox(place.parts[0], place.parts[1])

    def _defaults(self) -> Dict[str, str]:
        return {"tag": "VCALENDAR", "D:displayname": self.place.parts[1],
                "C:supported-calendar-component-set": "VEVENT"}

    def get_meta(self, key: Optional[str] = None):
        meta = super().get_meta(None)
        meta["tag"] = "VCALENDAR"
        return meta if key is None else meta.get(key)

    def _item(self, stored: icalendar_store.StoredObject) -> radicale_item.Item:
        try:
            modified = os.path.getmtime(find_no_case(self.mailbox.calendar_folder,
                                                     stored.master_id))
        except OSError:
            modified = 0
        return radicale_item.Item(collection=self, href=stored.href, text=stored.ics_text,
                                  etag=stored.etag, uid=stored.uid, component_name="VEVENT",
                                  last_modified=_http_time(modified))

    def _objects(self) -> List[icalendar_store.StoredObject]:
        return icalendar_store.objects(self.mailbox)

    @property
    def last_modified(self) -> str:
        try:
            folder = self.mailbox.calendar_folder
            times = [os.path.getmtime(folder)] + [
                os.path.getmtime(os.path.join(folder, n)) for n in os.listdir(folder)]
        except OSError:
            times = [0]
        return _http_time(max(times))

    def get_all(self) -> Iterator[radicale_item.Item]:
        return (self._item(o) for o in self._objects())

    def get_multi(self, hrefs: Iterable[str]
                  ) -> Iterator[Tuple[str, Optional[radicale_item.Item]]]:
        by_href = {o.href: o for o in self._objects()}
        for href in hrefs:
            stored = by_href.get(href)
            yield href, (self._item(stored) if stored is not None else None)

    def get_filtered(self, filters: Iterable[ET.Element]
                     ) -> Iterator[Tuple[radicale_item.Item, bool]]:
        """The objects whose lines come near the asked range; Radicale's own filter then decides
        (recurring objects, whose lines end at the horizon, always go to it)."""
        tag, start, end, _ = radicale_filter.simplify_prefilters(filters, "VCALENDAR")
        ranges = self._line_ranges()
        for stored in self._objects():
            span = ranges.get(stored.master_id.lower())
            if (tag in (None, "VEVENT") and span is not None and
                    (span[0] - _ZONE_SLACK >= end or span[1] + _ZONE_SLACK < start)):
                continue
            if tag not in (None, "VEVENT"):
                continue
            yield self._item(stored), False

    def _line_ranges(self) -> Dict[str, Tuple[int, int]]:
        """Each non-recurring master's time range, from its line."""
        ranges = {key: (lines[0].start, max(lines[0].finish, lines[0].start + 1))
                  for key, lines in icalendar_store.lines_by_id(self.mailbox).items()}
        # A master with occurrences: its rule may reach past the horizon.
        for name in self.mailbox.item_names():
            ranges.pop(name.lower().partition("-")[0] if "-" in name else "", None)
        return ranges

    def has_uid(self, uid: str) -> bool:
        return any(o.uid == uid for o in self._objects())

    def sync(self, old_token: str = "") -> Tuple[str, Iterable[str]]:
        state = {o.href: o.etag for o in self._objects()}
        name = hashlib.sha256(self.path.encode("utf-8", "surrogateescape")).hexdigest()
        history = os.path.join(self._storage.state_folder, "sync", name + ".json")
        return sync_history.sync(history, state, old_token)

    def upload(self, href: str, item: radicale_item.Item) -> radicale_item.Item:
        if not safe_href(href):
            raise ValueError("not a resource name: %r" % href)
        if item.component_name != "VEVENT":
            raise Refused("this calendar holds events (VEVENT) only, not %s" % (
                item.component_name or "an object without one"),
                precondition="C:supported-calendar-component")
        text, uid = item.serialize(), item.uid
        # Another object at this name gives way to the one sent, once that one is stored.
        others = [o.master_id for o in self._objects() if o.href == href and o.uid != uid]
        try:
            icalendar_store.put_object(self.mailbox, text, href=href,
                                       horizon_days=self._storage.horizon_days,
                                       max_occurrences=self._storage.max_occurrences,
                                       expansion_seconds=self._storage.expansion_seconds)
        except (icalendar_store.ExpansionTooLong, icalendar_store.CollisionError) as e:
            raise Refused("object %r: %s" % (uid, e)) from None
        for master in others:
            icalendar_store.delete_object(self.mailbox, master)
        uploaded = icalendar_store.object_by_href(self.mailbox, href)
        if uploaded is None:
            raise ValueError("the object sent to %r was not stored" % href)
        return self._item(uploaded)

    def delete(self, href: Optional[str] = None) -> None:
        if href is None:
            raise Refused("a mailbox's calendar is removed with its mailbox, not here")
        stored = icalendar_store.object_by_href(self.mailbox, href)
        if stored is None:
            raise storage.ComponentNotFoundError(href)
        icalendar_store.delete_object(self.mailbox, stored.master_id)
