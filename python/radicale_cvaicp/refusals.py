"""What the door refuses by design, and the answer it gets.

Radicale answers a ValueError from the storage with 400, or with 500 where it expects none (a
collection's delete), and keeps the exception to itself. A Refused is a ValueError, so Radicale's
own handling stays as it is, and it is also noted for the request being served, in the thread
that serves it: the door (door.py) then answers the request with the refusal's status and
message in place of Radicale's error."""
import threading
from typing import List, Optional, Tuple
from xml.etree import ElementTree as ET

from radicale import xmlutils

_current = threading.local()


class Refused(ValueError):
    def __init__(self, message: str, status: int = 403, precondition: Optional[str] = None):
        """precondition: the element of a DAV:error body ("C:supported-calendar-component")."""
        super().__init__(message)
        self.status, self.precondition = status, precondition
        _current.refusal = self


def begin_request() -> None:
    _current.refusal = None


def refusal() -> Optional[Refused]:
    """The refusal made since begin_request in this thread, if any."""
    return getattr(_current, "refusal", None)


RETRY_AFTER_SECONDS = 5


def answer(refused: Refused) -> Tuple[int, List[Tuple[str, str]], bytes]:
    """Status, headers and body: a DAV:error naming the precondition, else the message."""
    if refused.precondition:
        error = xmlutils.webdav_error(refused.precondition)
        body = ET.tostring(error, encoding="utf-8", xml_declaration=True)
        kind = "text/xml; charset=utf-8"
    else:
        body = (str(refused) + "\n").encode("utf-8")
        kind = "text/plain; charset=utf-8"
    headers = [("Content-Type", kind), ("Content-Length", str(len(body)))]
    if refused.status == 503:
        # A period a host holds, or the catalogue another door holds, is free again soon.
        headers.append(("Retry-After", str(RETRY_AFTER_SECONDS)))
    return refused.status, headers, body
