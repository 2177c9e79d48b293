"""The item files of iCalendar objects: header lines, an empty line, then the body; for a
master, the two-part message the store's own calendar writer makes, byte for byte, so that the
item-property reader finds the body and the calendar text in it."""
import calendar
import codecs
import email.utils
import re
import time
from typing import Dict, List, Optional, Tuple

BOUNDARY = "----------677C251E373B0A"
_MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")
_VALUE_BYTES = 1000
_BOUNDARY_MARK = re.compile('boundary="', re.IGNORECASE | re.ASCII)


def header_value(text: str) -> str:
    """One line of UTF-8: CR, LF and TAB become spaces, boundary=" becomes boundary=', and the
    value is cut to 1000 bytes at a character."""
    text = text.replace("\r", " ").replace("\n", " ").replace("\t", " ")
    # The store's reader takes the first header line holding boundary=" as the one naming the
    # message's boundary: a value must not be that line.
    text = _BOUNDARY_MARK.sub(lambda found: found.group(0)[:-1] + "'", text)
    data = text.encode("utf-8", errors="replace")
    if len(data) <= _VALUE_BYTES:
        return text
    return data[:_VALUE_BYTES].decode("utf-8", errors="ignore")


def time_text(seconds: int) -> str:
    """"09:00:00 07 Dec, 2026": the X-StartTime form, in UTC."""
    t = time.gmtime(seconds)
    return "%02d:%02d:%02d %02d %s, %04d" % (t.tm_hour, t.tm_min, t.tm_sec, t.tm_mday,
                                             _MONTHS[t.tm_mon - 1], t.tm_year)


def parse_time_text(text: str) -> Optional[int]:
    found = re.match(r"^\s*(\d\d):(\d\d):(\d\d) (\d\d) ([A-Za-z]{3}), (\d{4})\s*$", text)
    if not found or found.group(5).title() not in _MONTHS:
        return None
    h, m, s, d, month, y = found.groups()
    return calendar.timegm((int(y), _MONTHS.index(month.title()) + 1, int(d), int(h), int(m),
                            int(s)))


def date_text(seconds: int) -> str:
    """"Mon, 07 Dec 2026 09:00:00 +0000"."""
    return email.utils.formatdate(seconds, localtime=False, usegmt=False).replace("-0000",
                                                                                  "+0000")


def crlf_lines(text: str) -> str:
    """Every line of the text (ended by LF or CR LF) ended by CR LF, as the store's writer puts a
    body into its part; nothing for an empty text."""
    if not text:
        return ""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return "".join((line[:-1] if line.endswith("\r") else line) + "\r\n" for line in lines)


def _as_windows_1252(error: UnicodeDecodeError) -> Tuple[str, int]:
    bad = error.object[error.start:error.end]
    return bad.decode("cp1252", errors="replace").replace("\ufffd", ""), error.end


# Hosts write headers in their own code page: bytes that are not UTF-8 are read as Windows-1252.
codecs.register_error("cvaicp-cp1252", _as_windows_1252)


def make_item(headers: List[Tuple[str, str]], description: str,
              calendar_text: Optional[str]) -> bytes:
    """Headers in their order; with calendar_text, the two-part message of a master."""
    out = "".join("%s: %s\r\n" % (name, header_value(value)) for name, value in headers)
    separator = "--" + BOUNDARY + "\r\n"
    part = "; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
    if calendar_text is None:
        out += "\r\n" + crlf_lines(description)
    else:
        out += 'Content-Type: multipart/mixed;\r\n\tboundary="%s"\r\n\r\n' % BOUNDARY
        out += separator + "Content-Type: text/plain" + part + crlf_lines(description)
        out += separator + "Content-Type: text/calendar" + part + calendar_text + "\r\n"
        out += "--" + BOUNDARY + "--\r\n"
    return out.encode("utf-8")


class ParsedItem:
    """An item file read back: its headers (first of each name, lower-case keys), its plain body
    (the text/plain part when multipart) and its text/calendar part, if any."""

    def __init__(self, data: bytes) -> None:
        text = data.decode("utf-8", errors="cvaicp-cp1252")
        lines = text.split("\n")
        self.headers: Dict[str, str] = {}
        body_at = len(lines)
        content_type = ""
        previous = ""
        for i, line in enumerate(lines):
            line = line[:-1] if line.endswith("\r") else line
            if line == "":
                body_at = i + 1
                break
            if line[:1] in (" ", "\t"):  # a folded header goes on
                if previous == "content-type":
                    content_type += line
                continue
            name, _, value = line.partition(":")
            previous = name.strip().lower()
            self.headers.setdefault(previous, value.strip())
            if previous == "content-type" and not content_type:
                content_type = value
        body = "\n".join(lines[body_at:])
        self.body = body
        self.calendar: Optional[str] = None
        boundary = re.search(r'boundary="([^"]*)"', content_type, re.IGNORECASE)
        if "multipart/mixed" in content_type.lower() and boundary:
            self.body = ""
            for part_headers, part_body in _parts(body, boundary.group(1)):
                kind = part_headers.lower()
                if "text/plain" in kind and not self.body:
                    self.body = part_body
                elif "text/calendar" in kind and self.calendar is None:
                    self.calendar = part_body

    def header(self, name: str) -> str:
        return self.headers.get(name.lower(), "")


def _parts(body: str, boundary: str) -> List[Tuple[str, str]]:
    parts: List[Tuple[str, str]] = []
    current: Optional[List[str]] = None
    for line in body.split("\n"):
        bare = line[:-1] if line.endswith("\r") else line
        if bare.startswith("--" + boundary):
            if current is not None:
                parts.append(_split_part(current))
            current = None if bare.startswith("--" + boundary + "--") else []
            continue
        if current is not None:
            current.append(line + "\n")
    if current is not None:
        parts.append(_split_part(current))
    return parts


def _split_part(lines: List[str]) -> Tuple[str, str]:
    for i, line in enumerate(lines):
        if line in ("\n", "\r\n"):
            return "".join(lines[:i]), "".join(lines[i + 1:])
    return "".join(lines), ""
