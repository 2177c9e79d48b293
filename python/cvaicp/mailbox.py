"""One mailbox's calendar through the exports, as a host calls them. A mailbox that cannot be
reached raises (errors.py) rather than looking like an empty calendar: every call checks the
configuration and the mailbox's folder first, as cvcal does."""
import ctypes
import os
import threading
from typing import TYPE_CHECKING, List, NamedTuple, Optional

from . import records
from .errors import ConfigurationError, NotFoundError, RefusedError
from .names import encode_name, encode_text
from .periods import is_period_name
from .registry import find_no_case, mail_root

if TYPE_CHECKING:
    from .library import Library

_CHUNK = 8191  # a written chunk is a text up to its first NUL

# The item read position and the list enumeration are one per process in the library, whatever
# the thread: item reads through the library, the size check that ends a write (it resets the
# position) and listings take this lock, around those calls only. A listing may wait here for a
# period file's blocking file; the CalDAV door lists nothing and reads item files itself
# (read_item_file), so that its users meet here only for a write's size check.
ITEM_AND_LIST_LOCK = threading.RLock()


class Appointment(NamedTuple):
    """One line of a period file: its times (seconds since 1970), id and period."""
    start: int
    finish: int
    item_id: str
    period: str


class ListedItem(NamedTuple):
    """One appointment of a listing, with its index element as XML text."""
    start: int
    finish: int
    item_id: str
    xml: str


def _text(field: bytes) -> str:
    return field.decode("utf-8", errors="surrogateescape")


class Mailbox:
    """A mailbox's calendar: period lines, item files, free/busy and listings. Names that could
    leave the mailbox's folders are refused (RefusedError, a ValueError) before any call."""

    def __init__(self, library: "Library", postoffice: str, mailbox: str) -> None:
        cap = records.field_capacity
        self._postoffice = encode_name(postoffice, cap(records.AppointmentRequest, "Postoffice"),
                                       "postoffice")
        self._mailbox = encode_name(mailbox, cap(records.AppointmentRequest, "Mailbox"), "mailbox")
        self.postoffice, self.name = postoffice, mailbox
        self._library = library
        self._dll = library.dll

    # Records ---------------------------------------------------------------------------------

    def _folders(self) -> str:
        """The mailbox's folder, once the configuration and the folders are known to be there."""
        root = mail_root()
        if root is None:
            raise ConfigurationError("no mail root: $CVAICP_REGISTRY names no .reg file with "
                                     "\"Mail Root\" or \"Data Directory\" (cvcal config set-root)",
                                     "mail-root-not-configured")
        for what, kind, path in (
                ("mail root", "mail-root", root),
                ("postoffice folder", "postoffice", find_no_case(root, self.postoffice)),
                ("mailbox folder", "mailbox", find_no_case(root, self.postoffice, "MAILROOT",
                                                           self.name))):
            if not os.path.isdir(path):
                raise NotFoundError("%s not found: %s" % (what, path), kind + "-not-found")
        return path

    def _request(self, period: str = "", item_id: str = "", start: int = 0,
                 finish: int = 0) -> records.AppointmentRequest:
        self._folders()
        if period and not is_period_name(period):
            raise RefusedError("period: not a period name (Y, Y26, Y26M12 or Y26M12D07): %r"
                               % period)
        r = records.AppointmentRequest()
        r.Mailbox, r.Postoffice = self._mailbox, self._postoffice
        cap = records.field_capacity
        if period:
            r.PeriodName = encode_name(period, cap(records.AppointmentRequest, "PeriodName"),
                                       "period")
        if item_id:
            r.ItemId = encode_name(item_id, cap(records.AppointmentRequest, "ItemId"), "item id")
        r.StartTime, r.FinishTime = _seconds(start), _seconds(finish)
        return r

    def _item(self, name: str) -> records.AppointmentItemRequest:
        self._folders()
        r = records.AppointmentItemRequest()
        r.Mailbox, r.Postoffice = self._mailbox, self._postoffice
        r.ItemFileName = encode_name(
            name, records.field_capacity(records.AppointmentItemRequest, "ItemFileName"), "item")
        return r

    # Period lines ----------------------------------------------------------------------------

    def add(self, period: str, start: int, finish: int, item_id: str) -> bool:
        """Adds a line; False when the period holds the id already."""
        return self._dll.AppointmentAdd(self._request(period, item_id, start, finish)) == 1

    def remove(self, period: str, item_id: str) -> bool:
        """Removes the id's lines from the period; False when it holds none."""
        # An empty id is the library's "every line": never meant here.
        return self._dll.AppointmentRemove(self._request(period, _id(item_id))) == 1

    def edit(self, period: str, item_id: str, start: int, finish: int,
             new_id: Optional[str] = None) -> bool:
        """Gives the id's lines in the period new times (and id); False when it holds none."""
        old = self._request(period, _id(item_id))
        new = self._request(period, _id(new_id or item_id), start, finish)
        return self._dll.AppointmentEdit(old, new) == 1

    def get(self, period: str, item_id: str) -> Optional[Appointment]:
        """The id's line in the period, None when there is none."""
        r = self._request(period, _id(item_id))
        if self._dll.AppointmentGet(r) != 1:
            return None
        return Appointment(r.StartTime, r.FinishTime, _text(r.ItemId) or item_id, period)

    def walk(self, period: str) -> List[Appointment]:
        """Every line of the period, in the file's order."""
        # The walk's position is the calling thread's own in the library.
        r = self._request(period)
        found: List[Appointment] = []
        more = self._dll.AppointmentFindFirst(r)
        while more == 1:
            found.append(Appointment(r.StartTime, r.FinishTime, _text(r.ItemId), period))
            r.ItemId = b""  # else the walk looks for that id only
            more = self._dll.AppointmentFindNext(r)
        return found

    # Item files ------------------------------------------------------------------------------

    def read_item(self, name: str) -> Optional[bytes]:
        """The item file's bytes through the library, None when there is no such file."""
        r = self._item(name)
        r.DataLength = -1
        parts = []
        with ITEM_AND_LIST_LOCK:
            more = self._dll.AppointmentItemGetFirstChunk(r)
            if more != 1 and r.DataLength == -1:
                return None  # the file could not be opened
            while more == 1:
                parts.append(ctypes.string_at(ctypes.addressof(r) + records.AppointmentItemRequest
                                              .Data.offset, r.DataLength))
                more = self._dll.AppointmentItemGetNextChunk(r)
        return b"".join(parts)

    def write_item(self, name: str, data: bytes) -> bool:
        """The whole item; False when it holds a NUL (the chunks are texts) or did not arrive."""
        if b"\0" in data:
            return False
        r = self._item(name)
        at = 0
        while True:  # the chunks go to the file by its name: they do not use the read position
            chunk = data[at:at + _CHUNK]
            r.Data = chunk
            if at == 0:
                self._dll.AppointmentItemWriteFirstChunk(r)
            else:
                self._dll.AppointmentItemWriteNextChunk(r)
            at += len(chunk)
            if at >= len(data):
                break
        # The writes always answer 1: the size tells whether the bytes arrived.
        r.DataLength = -1
        with ITEM_AND_LIST_LOCK:
            self._dll.AppointmentItemGetSize(r)
        return r.DataLength == len(data)

    def delete_item(self, name: str) -> None:
        """Deletes the item file, if there is one."""
        self._dll.AppointmentItemDelete(self._item(name))

    # Free/busy and listing -------------------------------------------------------------------

    def free_busy(self, prefix: str) -> List[int]:
        """The days, in order, of the periods whose names begin with the prefix ("Y26M12")."""
        self._folders()
        r = records.FreeBusyRequest()
        r.Mailbox, r.Postoffice = self._mailbox, self._postoffice
        r.NamePrefix = encode_text(prefix, records.field_capacity(records.FreeBusyRequest,
                                                                  "NamePrefix"), "prefix")
        self._dll.GetFreeBusyData(r)
        text = _text(r.BusyDays[:max(0, r.BusyDaysLength)])
        return sorted({int(day) for day in text.split(",") if day.strip().isdigit()})

    def list(self, range_start: int, range_end: int, stylesheet: str = "") -> List[ListedItem]:
        """One enumeration, as a host runs it: the export reads the periods of the local day that
        range_start falls on (and its month and year), so a caller that wants several days asks
        for each day in turn."""
        self._folders()
        context = records.ListContext()
        cap = records.field_capacity
        context.Postoffice = encode_name(self.postoffice, cap(records.ListContext, "Postoffice"),
                                         "postoffice")
        context.Mailbox = encode_name(self.name, cap(records.ListContext, "Mailbox"), "mailbox")
        context.Stylesheet = encode_text(stylesheet, cap(records.ListContext, "Stylesheet"),
                                         "stylesheet")
        context.RangeStart, context.RangeEnd = _seconds(range_start), _seconds(range_end)
        item = records.ListItem()
        found: List[ListedItem] = []
        with ITEM_AND_LIST_LOCK:
            try:
                more = self._dll.AppointmentListItemFindFirst(context, item)
                while more == 1:
                    xml = ctypes.string_at(ctypes.addressof(item) + records.ListItem.ItemXml.offset,
                                           min(item.ItemXmlLength, 8191))
                    found.append(ListedItem(item.StartTime, item.FinishTime, _text(item.ItemId),
                                            _text(xml)))
                    more = self._dll.AppointmentListItemFindNext(context, item)
            finally:
                self._dll.AppointmentListItemFindClose(context)
        return found

    # The folder on disk ------------------------------------------------------------------------

    @property
    def calendar_folder(self) -> str:
        """The Calendar folder the library uses (it may not be there before the first line)."""
        return find_no_case(self._folders(), "Calendar")

    def _entries(self) -> List[str]:
        try:
            return sorted(os.listdir(self.calendar_folder))
        except OSError:
            return []

    def period_names(self) -> List[str]:
        """The periods that have a file in the Calendar folder."""
        return [e[:-4] for e in self._entries() if e.upper().endswith(".CAL")]

    def read_item_file(self, name: str) -> Optional[bytes]:
        """The item's bytes read from its file, as read_item gives them but without the
        library's one read position: threads read items at once. None when there is no file."""
        encode_name(name, records.field_capacity(records.AppointmentItemRequest, "ItemFileName"),
                    "item")
        try:
            with open(find_no_case(self.calendar_folder, name), "rb") as f:
                return f.read()
        except OSError:
            return None

    def item_names(self, prefix: str = "") -> List[str]:
        """The Calendar folder's files whose names begin with the prefix, case ignored."""
        folder = self.calendar_folder
        p = prefix.lower()
        return [e for e in self._entries()
                if e.lower().startswith(p) and os.path.isfile(os.path.join(folder, e))]


def _id(item_id: str) -> str:
    if not item_id:
        raise RefusedError("item id: empty")
    return item_id


def _seconds(value: int) -> int:
    value = int(value)
    if not -2**31 <= value < 2**31:
        raise RefusedError("time %d outside the 32-bit range" % value)
    return value
