"""What a Radicale path means in the store: the root, a principal (/USER/), a postoffice, a
mailbox, and the one calendar of a mailbox (/POSTOFFICE/MAILBOX/calendar/)."""
from typing import List, NamedTuple, Optional, Tuple

from cvaicp.names import encode_name

CALENDAR = "calendar"


class Place(NamedTuple):
    kind: str  # "root", "principal", "postoffice", "mailbox", "calendar"
    parts: Tuple[str, ...]

    @property
    def path(self) -> str:
        return "/".join(self.parts)


def safe_segment(name: str) -> bool:
    """A single name that cannot leave its folder: checked here although Radicale sanitises."""
    try:
        encode_name(name, 256, "name")
    except ValueError:
        return False
    return "\0" not in name


def safe_href(name: str) -> bool:
    """A resource name: it only ever becomes a header value, so only what no name may hold is
    refused, and what would not survive the header whole."""
    return name not in ("", ".", "..") and not any(c in name for c in "/\\\0\r\n\t") and \
        len(name.encode("utf-8", "surrogateescape")) <= 255


def split(path: str) -> Optional[List[str]]:
    """The segments of a sanitised path: folder names first, a resource name last; None when one
    of them is unsafe."""
    parts = [p for p in path.strip("/").split("/") if p]
    folders = parts[:3]
    if not all(safe_segment(p) for p in folders) or not all(safe_href(p) for p in parts[3:]):
        return None
    return parts


def user_mailbox(user: str) -> Optional[Tuple[str, str]]:
    """MAILBOX@POSTOFFICE, split at the last "@": (postoffice, mailbox), or None."""
    mailbox, at, postoffice = user.rpartition("@")
    if not at or not safe_segment(mailbox) or not safe_segment(postoffice):
        return None
    return postoffice, mailbox


def calendar_path(postoffice: str, mailbox: str) -> str:
    return "%s/%s/%s" % (postoffice, mailbox, CALENDAR)
