"""A mailbox's iCalendar objects through the engine and its catalogue (libcvaicp_icalendar.so,
icalendar/cvaicp_icalendar.h): every call answers a JSON text, a failure included.

    library = cvaicp.icalendar.Library()
    calendar = library.open("example", "anna", state="/var/lib/door")
    calendar.refresh()
    for page in calendar.pages(): ...
"""
import ctypes
import json
import os
from typing import Iterable, Iterator, List, NamedTuple, Optional, Tuple

_HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PATH = os.path.join(_HERE, "..", "..", "build", "native", "lib",
                            "libcvaicp_icalendar.so")


class CalendarError(Exception):
    """A failure the library answered: kind is "configuration", "not-found", "refused", "busy",
    "invalid-token" or "failed"."""

    def __init__(self, kind: str, message: str) -> None:
        super().__init__(message)
        self.kind = kind


class Listed(NamedTuple):
    href: str
    etag: str
    uid: str
    modified: int
    span: Optional[List[int]] = None  # in_range: a plain event's exact times


class Stored(NamedTuple):
    href: str
    etag: str
    uid: str
    modified: int
    text: str


class Window(NamedTuple):
    """Which occurrences of a rule become appointments: see docs/ICALENDAR.md."""
    back_days: int = 365
    horizon_days: int = 365
    max_occurrences: int = 2000


_TEXT, _HANDLE = ctypes.c_char_p, ctypes.c_void_p
_FUNCTIONS = {
    "cvical_open": ([_TEXT, ctypes.POINTER(ctypes.c_void_p)], _HANDLE),
    "cvical_close": ([_HANDLE], None),
    "cvical_free": ([ctypes.c_void_p], None),
    "cvical_refresh": ([_HANDLE], ctypes.c_void_p),
    "cvical_list": ([_HANDLE, _TEXT, ctypes.c_uint32], ctypes.c_void_p),
    "cvical_find": ([_HANDLE, _TEXT], ctypes.c_void_p),
    "cvical_get": ([_HANDLE, _TEXT], ctypes.c_void_p),
    "cvical_find_uid": ([_HANDLE, _TEXT], ctypes.c_void_p),
    "cvical_in_range": ([_HANDLE, ctypes.c_int64, ctypes.c_int64], ctypes.c_void_p),
    "cvical_sync": ([_HANDLE, _TEXT], ctypes.c_void_p),
    "cvical_put": ([_HANDLE, _TEXT, _TEXT], ctypes.c_void_p),
    "cvical_delete": ([_HANDLE, _TEXT], ctypes.c_void_p),
    "cvical_roll": ([_HANDLE], ctypes.c_void_p),
}


def _bytes(text: str) -> bytes:
    # Names and texts from clients may carry lone surrogates (undecodable bytes of a path).
    return text.encode("utf-8", "surrogateescape")


class Library:
    """libcvaicp_icalendar.so: `path`, else $CVAICP_ICALENDAR_LIBRARY, else the native build's.
    It reads the mail root from $CVAICP_REGISTRY once, at its first call."""

    def __init__(self, path: Optional[str] = None) -> None:
        self.path = os.path.abspath(path or os.environ.get("CVAICP_ICALENDAR_LIBRARY") or
                                    DEFAULT_PATH)
        self.dll = ctypes.CDLL(self.path)
        for name, (arguments, result) in _FUNCTIONS.items():
            function = getattr(self.dll, name)
            function.argtypes, function.restype = arguments, result

    def answer(self, pointer: Optional[int]) -> dict:
        """The JSON answer behind a pointer the library gave, which is then given back."""
        if not pointer:
            raise MemoryError("the calendar library gave no answer")
        try:
            found = json.loads(ctypes.string_at(pointer).decode("utf-8", "surrogateescape"))
        finally:
            self.dll.cvical_free(pointer)
        if "error" in found:
            raise CalendarError(found["error"], found.get("message", ""))
        return found

    def open(self, postoffice: str, mailbox: str, state: str, window: Window = Window(),
             roll: bool = True, watch: bool = True) -> "Calendar":
        settings = dict(window._asdict(), postoffice=postoffice, mailbox=mailbox, state=state,
                        roll=roll, watch=watch)
        error = ctypes.c_void_p()
        handle = self.dll.cvical_open(_bytes(json.dumps(settings, ensure_ascii=False)),
                                      ctypes.byref(error))
        if not handle:
            self.answer(error.value)
            raise CalendarError("failed", "the calendar could not be opened")
        return Calendar(self, handle)


class Calendar:
    def __init__(self, library: Library, handle: int) -> None:
        self._library, self._dll, self._handle = library, library.dll, handle

    def close(self) -> None:
        if self._handle:
            self._dll.cvical_close(self._handle)
            self._handle = None

    def __del__(self) -> None:
        self.close()

    def _call(self, name: str, *arguments) -> dict:
        return self._library.answer(getattr(self._dll, name)(self._handle, *arguments))

    def refresh(self) -> Tuple[str, int]:
        """The catalogue brought up to the store: the sync token and the last change's time."""
        found = self._call("cvical_refresh")
        return found["token"], found["modified"]

    def list(self, after: str = "", limit: int = 0) -> List[Listed]:
        """The objects in the order of their names' bytes: those after `after`, at most `limit`
        (0: all)."""
        return [Listed(**o) for o in self._call("cvical_list", _bytes(after), limit)["objects"]]

    def pages(self, size: int = 500) -> Iterator[List[Listed]]:
        """Every object, `size` at a time: a calendar of 50,000 objects is never held whole,
        neither as the answer's text nor as its objects. An object stored or removed meanwhile
        may or may not be listed, as in a walk of a folder; every other one is listed once."""
        after = ""
        while True:
            page = self.list(after, size)
            if page:
                yield page
            if len(page) < size:
                return
            after = page[-1].href

    def find(self, hrefs: Iterable[str]) -> List[Listed]:
        names = json.dumps(list(hrefs), ensure_ascii=False)
        return [Listed(**o) for o in self._call("cvical_find", _bytes(names))["objects"]]

    def get(self, hrefs: Iterable[str]) -> List[Stored]:
        names = json.dumps(list(hrefs), ensure_ascii=False)
        return [Stored(**o) for o in self._call("cvical_get", _bytes(names))["objects"]]

    def find_uid(self, uid: str) -> Optional[str]:
        return self._call("cvical_find_uid", _bytes(uid))["href"]

    def in_range(self, start: int, end: int) -> List[Listed]:
        return [Listed(**o) for o in self._call("cvical_in_range", start, end)["objects"]]

    def sync(self, token: str = "") -> Tuple[str, List[str]]:
        found = self._call("cvical_sync", _bytes(token))
        return found["token"], found["changed"]

    def put(self, href: str, text: str) -> Tuple[str, Stored]:
        found = self._call("cvical_put", _bytes(href), _bytes(text))
        return found["outcome"], Stored(**found["object"])

    def delete(self, href: str) -> None:
        self._call("cvical_delete", _bytes(href))

    def roll(self) -> dict:
        return self._call("cvical_roll")
