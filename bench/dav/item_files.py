"""The store's names and item files as the engine writes them, for building the benchmark's
stores quickly without going through a door: master ids, the header time forms, and the two-part
message of a master."""
import email.utils
import time
from typing import List, Optional, Tuple

BOUNDARY = "----------677C251E373B0A"
_MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


def _fnv1a64(data: bytes) -> int:
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return value


def master_id(uid: str) -> str:
    """IC, then FNV-1a of the UID and of "cvaicp:" + UID, each as 16 upper-case hex digits."""
    data = uid.encode("utf-8", "surrogateescape")
    return "IC%016X%016X" % (_fnv1a64(data), _fnv1a64(b"cvaicp:" + data))


def time_text(seconds: int) -> str:
    """"09:00:00 07 Dec, 2026": the X-StartTime form, in UTC."""
    t = time.gmtime(seconds)
    return "%02d:%02d:%02d %02d %s, %04d" % (t.tm_hour, t.tm_min, t.tm_sec, t.tm_mday,
                                             _MONTHS[t.tm_mon - 1], t.tm_year)


def date_text(seconds: int) -> str:
    """"Mon, 07 Dec 2026 09:00:00 +0000"."""
    return email.utils.formatdate(seconds, localtime=False, usegmt=False).replace("-0000",
                                                                                  "+0000")


def _crlf_lines(text: str) -> str:
    if not text:
        return ""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return "".join((line[:-1] if line.endswith("\r") else line) + "\r\n" for line in lines)


def make_item(headers: List[Tuple[str, str]], description: str,
              calendar_text: Optional[str]) -> bytes:
    """Headers in their order (values of one line each); with calendar_text, the two-part message
    of a master."""
    out = "".join("%s: %s\r\n" % (name, value) for name, value in headers)
    separator = "--" + BOUNDARY + "\r\n"
    part = "; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
    if calendar_text is None:
        out += "\r\n" + _crlf_lines(description)
    else:
        out += 'Content-Type: multipart/mixed;\r\n\tboundary="%s"\r\n\r\n' % BOUNDARY
        out += separator + "Content-Type: text/plain" + part + _crlf_lines(description)
        out += separator + "Content-Type: text/calendar" + part + calendar_text + "\r\n"
        out += "--" + BOUNDARY + "--\r\n"
    return out.encode("utf-8")
