"""A CalDAV client that times whole requests as a client sees them: from opening the connection
to the last byte of the answer, one connection per request (Radicale's server, under both, closes
each after its answer). The request bodies of the rows, and what is read out of the answers."""
import base64
import http.client
import socket
import time
import xml.etree.ElementTree as ET
from typing import Dict, List, NamedTuple, Optional

import events

DAV, CALDAV = "DAV:", "urn:ietf:params:xml:ns:caldav"
_XML_HEAD = '<?xml version="1.0" encoding="utf-8"?>\n'


class Answer(NamedTuple):
    status: int
    headers: Dict[str, str]
    body: bytes
    seconds: float


class RequestTimeout(Exception):
    pass


class RequestFailed(Exception):
    pass


class Client:
    def __init__(self, port: int, calendar: str, user: str, password: str,
                 timeout: float) -> None:
        self.port, self.calendar, self.timeout = port, calendar, timeout
        self._authorization = "Basic " + base64.b64encode(
            ("%s:%s" % (user, password)).encode()).decode()

    def request(self, method: str, path: str, body: Optional[str] = None,
                headers: Optional[Dict[str, str]] = None, expect=(200, 201, 204, 207)) -> Answer:
        """The answer; RequestTimeout after the client's patience, RequestFailed for a status
        not expected or a broken connection."""
        sent = {"Authorization": self._authorization}
        sent.update(headers or {})
        data = body.encode("utf-8") if body is not None else None
        began = time.perf_counter()
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=self.timeout)
        try:
            connection.request(method, path, body=data, headers=sent)
            response = connection.getresponse()
            answer_body = response.read()
            seconds = time.perf_counter() - began
            answer = Answer(response.status, {k.lower(): v for k, v in response.getheaders()},
                            answer_body, seconds)
        except socket.timeout:
            raise RequestTimeout("%s %s: no answer within %g s" % (method, path,
                                                                  self.timeout)) from None
        except (OSError, http.client.HTTPException) as e:
            raise RequestFailed("%s %s: %s" % (method, path, e)) from None
        finally:
            connection.close()
        if answer.status not in expect:
            raise RequestFailed("%s %s: %d %s" % (method, path, answer.status,
                                                 answer_body[:300].decode("utf-8", "replace")))
        return answer


# Request bodies ------------------------------------------------------------------------------

def propfind_etags() -> str:
    return _XML_HEAD + '<d:propfind xmlns:d="DAV:"><d:prop><d:getetag/></d:prop></d:propfind>'


def calendar_query(start: int, end: int) -> str:
    return _XML_HEAD + (
        '<c:calendar-query xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav">'
        '<d:prop><d:getetag/><c:calendar-data/></d:prop>'
        '<c:filter><c:comp-filter name="VCALENDAR"><c:comp-filter name="VEVENT">'
        '<c:time-range start="%s" end="%s"/>'
        '</c:comp-filter></c:comp-filter></c:filter></c:calendar-query>'
        % (events.utc_text(start), events.utc_text(end)))


def calendar_multiget(paths: List[str]) -> str:
    return _XML_HEAD + (
        '<c:calendar-multiget xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav">'
        '<d:prop><d:getetag/><c:calendar-data/></d:prop>%s</c:calendar-multiget>'
        % "".join("<d:href>%s</d:href>" % p for p in paths))


def sync_collection(token: str) -> str:
    return _XML_HEAD + (
        '<d:sync-collection xmlns:d="DAV:">%s<d:sync-level>1</d:sync-level>'
        '<d:prop><d:getetag/></d:prop></d:sync-collection>'
        % ("<d:sync-token>%s</d:sync-token>" % token if token else "<d:sync-token/>"))


# Reading answers -----------------------------------------------------------------------------

def _multistatus(answer: Answer) -> ET.Element:
    try:
        return ET.fromstring(answer.body)
    except ET.ParseError as e:
        raise RequestFailed("the answer is no XML: %s" % e) from None


def found_hrefs(answer: Answer) -> List[str]:
    """The hrefs of a multistatus answer whose properties were found (status 200)."""
    found = []
    for response in _multistatus(answer).iter("{%s}response" % DAV):
        href = response.findtext("{%s}href" % DAV)
        statuses = [s.text or "" for s in response.iter("{%s}status" % DAV)]
        if href is not None and any(" 200 " in s for s in statuses):
            found.append(href)
    return found


def sync_token(answer: Answer) -> str:
    token = _multistatus(answer).findtext("{%s}sync-token" % DAV)
    if not token:
        raise RequestFailed("the sync answer holds no token")
    return token
