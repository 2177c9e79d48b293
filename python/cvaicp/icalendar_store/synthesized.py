"""The VEVENT that stands for an appointment made without a calendar part (by a host or by
cvcal add): its times from the period line, its texts from the item's headers and body."""
import email.utils
import time
from typing import Optional

from .item_text import ParsedItem

PRODID = "-//CVAICP//calendar store//EN"


def _utc(seconds: int) -> str:
    return time.strftime("%Y%m%dT%H%M%SZ", time.gmtime(seconds))


def escape(text: str) -> str:
    text = text.replace("\\", "\\\\").replace(";", "\\;").replace(",", "\\,")
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\\n")


def fold(line: str) -> str:
    """The content line cut into pieces of at most 75 octets, never inside a character."""
    out, piece, size, limit = [], "", 0, 75
    for char in line:
        width = len(char.encode("utf-8"))
        if size + width > limit:
            out.append(piece)
            piece, size, limit = " ", 1, 75
        piece += char
        size += width
    out.append(piece)
    return "\r\n".join(out) + "\r\n"


def stamp_of(item: Optional[ParsedItem], fallback: int) -> int:
    try:
        return int(email.utils.parsedate_to_datetime(item.header("Date")).timestamp())
    except (AttributeError, TypeError, ValueError, IndexError):
        return fallback


def synthesized_vevent(item_id: str, start: int, finish: int,
                       item: Optional[ParsedItem]) -> str:
    lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:" + PRODID, "BEGIN:VEVENT",
             "UID:" + item_id, "DTSTAMP:" + _utc(stamp_of(item, start)),
             "DTSTART:" + _utc(start)]
    if finish > start:
        lines.append("DTEND:" + _utc(finish))
    if item is not None:
        for name, value in (("SUMMARY", item.header("Subject")),
                            ("LOCATION", item.header("X-Location")),
                            ("DESCRIPTION", item.body)):
            if value:
                lines.append("%s:%s" % (name, escape(value)))
    lines += ["END:VEVENT", "END:VCALENDAR"]
    return "".join(fold(line) for line in lines)
