"""Radicale's collections over the store: folders without items (the root, principals,
postoffices, mailboxes) and a mailbox's calendar, whose items are its iCalendar objects, answered
from the calendar's catalogue (cvaicp.icalendar)."""
import hashlib
import json
import os
import time
import xml.etree.ElementTree as ET
from typing import (TYPE_CHECKING, Dict, Iterable, Iterator, Mapping, Optional, Tuple,
                    Union)

from radicale import item as radicale_item
from radicale import storage
from radicale.item import filter as radicale_filter

from cvaicp import icalendar

from .door import sent_text
from .paths import Place, safe_href
from .refusals import Refused

if TYPE_CHECKING:
    from .storage import Storage

# Radicale's sync tokens are URIs; the catalogue's token is the part after this.
TOKEN_PREFIX = "http://radicale.org/ns/sync/"
# The catalogue's times fit 32 bits; Radicale's open ends lie beyond.
_FIRST, _LAST = -2**31, 2**31 - 1


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


class ListedItem(radicale_item.Item):
    """An object as a listing names it: its text is read from the store only when Radicale asks
    for it, so that a PROPFIND of every etag reads no item file."""

    def __init__(self, collection: "CalendarCollection",
                 found: Union[icalendar.Listed, icalendar.Stored],
                 batch: Optional["_Batch"] = None) -> None:
        text = getattr(found, "text", None)
        super().__init__(collection=collection, href=found.href, etag=found.etag, uid=found.uid,
                         name="VCALENDAR", component_name="VEVENT", text=text or "",
                         last_modified=_http_time(found.modified))
        self._text, self._batch = text, batch

    def _load(self) -> None:
        if self._text is None:
            if self._batch is not None:
                self._batch.load(self)
            else:
                self.take(self.collection.stored([self.href]).get(self.href))

    def take(self, stored: Optional[icalendar.Stored]) -> None:
        if stored is None:
            raise RuntimeError("%r was removed while it was being read" % self.href)
        # The etag of the text given, should the object have changed since it was listed.
        self._text, self._etag = stored.text, stored.etag

    def serialize(self) -> str:
        self._load()
        return super().serialize()

    @property
    def vobject_item(self):
        self._load()
        return radicale_item.Item.vobject_item.fget(self)


class _Batch:
    """The items of one listing, whose texts are read a hundred at a time in the listing's order
    as Radicale asks for them: a report that reads every text reads them in few calls, one that
    reads none reads nothing."""
    SIZE = 100

    def __init__(self, collection: "CalendarCollection", found: Iterable[icalendar.Listed]):
        self.items = [ListedItem(collection, f, self) for f in found]
        self._at = {item.href: n for n, item in enumerate(self.items)}
        self._collection = collection

    def load(self, item: ListedItem) -> None:
        first = self._at[item.href]
        wanted = [i for i in self.items[first:first + self.SIZE] if i._text is None]
        stored = self._collection.stored(i.href for i in wanted)
        for i in wanted:
            if i is item or i.href in stored:
                i.take(stored.get(i.href))


class CalendarCollection(Collection):
    """/POSTOFFICE/MAILBOX/calendar/: one item per iCalendar object of the mailbox."""

    def __init__(self, storage_: "Storage", place: Place) -> None:
        super().__init__(storage_, place)
        self.calendar = storage_.calendar(place.parts[0], place.parts[1])
        self._token, self._modified = self._answer(self.calendar.refresh)

    def _answer(self, call, *arguments):
        """The catalogue's answer; its failures as Radicale's storage raises them."""
        try:
            return call(*arguments)
        except icalendar.CalendarError as e:
            if e.kind == "not-found":
                raise storage.ComponentNotFoundError(str(e)) from None
            if e.kind == "refused":
                raise Refused(str(e)) from None
            if e.kind == "busy":
                raise Refused("the calendar is busy, try again: %s" % e, status=503) from None
            if e.kind == "invalid-token":
                raise ValueError(str(e)) from None
            raise

    def _defaults(self) -> Dict[str, str]:
        return {"tag": "VCALENDAR", "D:displayname": self.place.parts[1],
                "C:supported-calendar-component-set": "VEVENT"}

    def get_meta(self, key: Optional[str] = None):
        meta = super().get_meta(None)
        meta["tag"] = "VCALENDAR"
        return meta if key is None else meta.get(key)

    @property
    def last_modified(self) -> str:
        return _http_time(self._modified)

    @property
    def etag(self) -> str:
        # The sync token is a digest of every (href, etag) already: no listing needed.
        digest = hashlib.sha256(self._token.encode())
        digest.update(json.dumps(self.get_meta(), sort_keys=True).encode())
        return '"%s"' % digest.hexdigest()

    def stored(self, hrefs: Iterable[str]) -> Dict[str, icalendar.Stored]:
        return {s.href: s for s in self._answer(self.calendar.get, list(hrefs))}

    def listed(self, hrefs: Iterable[str]) -> Dict[str, icalendar.Listed]:
        return {f.href: f for f in self._answer(self.calendar.find, list(hrefs))}

    def get_all(self) -> Iterator[radicale_item.Item]:
        """The items listed a page at a time and made a batch at a time, as Radicale takes them:
        a listing of 50,000 objects then never holds 50,000 items (each some kilobyte), nor the
        objects' names and etags, which Radicale answers one after the other and lets go of."""
        pages = self.calendar.pages(_Batch.SIZE * 5)
        while True:
            page = self._answer(next, pages, None)
            if page is None:
                return
            for at in range(0, len(page), _Batch.SIZE):
                yield from _Batch(self, page[at:at + _Batch.SIZE]).items

    def get_multi(self, hrefs: Iterable[str]
                  ) -> Iterator[Tuple[str, Optional[radicale_item.Item]]]:
        hrefs = list(hrefs)
        listed = {f.href: f for f in self._answer(
            self.calendar.find, [h for h in hrefs if safe_href(h)])}
        # In the order asked, a batch at a time (see _items).
        for at in range(0, len(hrefs), _Batch.SIZE):
            asked = hrefs[at:at + _Batch.SIZE]
            batch = _Batch(self, [listed[h] for h in dict.fromkeys(asked) if h in listed])
            found = {i.href: i for i in batch.items}
            for href in asked:
                yield href, found.get(href)

    def get_filtered(self, filters: Iterable[ET.Element]
                     ) -> Iterator[Tuple[radicale_item.Item, bool]]:
        """The objects whose spans come near the asked range; Radicale's own filter decides."""
        tag, start, end, simple = radicale_filter.simplify_prefilters(filters, "VCALENDAR")
        if tag not in (None, "VEVENT"):
            return
        near = self._answer(self.calendar.in_range, max(start, _FIRST), min(end, _LAST))
        for found, item in zip(near, _Batch(self, near).items):
            if simple and found.span is not None:
                # A VEVENT of its line's DTSTART and DTEND in UTC (or dates) and nothing recurring
                # (a host's appointment, most clients' single events) meets the range as
                # Radicale's filter would find: no text need be parsed for it.
                if found.span[0] < end and start < found.span[1]:
                    yield item, True
            else:
                yield item, False

    def has_uid(self, uid: str) -> bool:
        return self._answer(self.calendar.find_uid, uid) is not None

    def sync(self, old_token: str = "") -> Tuple[str, Iterable[str]]:
        if old_token and not old_token.startswith(TOKEN_PREFIX):
            raise ValueError("unknown sync token %r" % old_token)
        token, changed = self._answer(self.calendar.sync, old_token[len(TOKEN_PREFIX):])
        return TOKEN_PREFIX + token, changed

    def upload(self, href: str, item: radicale_item.Item) -> radicale_item.Item:
        if not safe_href(href):
            raise ValueError("not a resource name: %r" % href)
        if item.component_name != "VEVENT":
            raise Refused("this calendar holds events (VEVENT) only, not %s" % (
                item.component_name or "an object without one"),
                precondition="C:supported-calendar-component")
        # The client's own text where this is its PUT; Radicale's rendering of it otherwise (a
        # MOVE).
        text = sent_text() or item.serialize()
        if "\0" in text:
            raise Refused("object %r: the text holds a NUL" % item.uid)
        _, stored = self._answer(self.calendar.put, href, text)
        return ListedItem(self, stored)

    def delete(self, href: Optional[str] = None) -> None:
        if href is None:
            raise Refused("a mailbox's calendar is removed with its mailbox, not here")
        if not safe_href(href):
            raise storage.ComponentNotFoundError(href)
        self._answer(self.calendar.delete, href)
