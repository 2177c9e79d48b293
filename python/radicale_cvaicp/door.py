"""The door in front of Radicale's WSGI application: what a request may bring, and the answers to
what the storage refuses by design.

- A body longer than the bound is answered 413 before it is read, let alone stored.
- The XML body of a WebDAV method is parsed once here, with no document type allowed: no entity
  is declared, so none is expanded, and nothing outside the body is read. Radicale parses it with
  entities forbidden, but lets the refusal out as a 500.
- Credentials that are no Basic login (not base64, no colon, longer than any login) are answered
  401 with the challenge, as wrong ones are: Radicale would fail on them with a 500.
- A Refused made while Radicale served the request (refusals.py) becomes its answer.
- The body of a PUT is kept for the storage (sent_text): Radicale hands the storage its own
  serialisation of the object, which orders and spells properties its own way, and the store
  keeps the object as the engine writes the text the client sent, as `cvcal import` does."""
import base64
import binascii
import io
import threading
from http import client
from typing import Callable, Iterable, List, Optional, Tuple

import defusedxml.ElementTree as DefusedET
from defusedxml import DefusedXmlException
from xml.etree.ElementTree import ParseError

from radicale import httputils

from . import application, refusals

MAX_BODY_BYTES = 10 * 1000 * 1000
XML_METHODS = {"PROPFIND", "PROPPATCH", "REPORT", "MKCALENDAR", "MKCOL"}
# A refused body is still read (up to this much) and thrown away: a connection closed with bytes
# unread is reset, and the client would see the reset instead of the 413.
_DRAIN_BYTES = 64 * 1000 * 1000
_PIECE = 1 << 16
# The longest Authorization value taken: user names and passwords are short, and a password
# hash takes time in proportion to what it is given.
MAX_CREDENTIALS = 4096

Headers = List[Tuple[str, str]]
_sent = threading.local()


def sent_text() -> Optional[str]:
    """The text of the PUT being served in this thread, or None."""
    return getattr(_sent, "text", None)


def _plain(start_response: Callable, status: int, text: str) -> List[bytes]:
    body = (text + "\n").encode("utf-8")
    start_response("%d %s" % (status, client.responses.get(status, "")),
                   [("Content-Type", "text/plain; charset=utf-8"),
                    ("Content-Length", str(len(body)))])
    return [body]


def _read(stream, length: int) -> bytes:
    pieces, left = [], length
    while left > 0:
        piece = stream.read(min(left, _PIECE))
        if not piece:
            break
        pieces.append(piece)
        left -= len(piece)
    return b"".join(pieces)


def _drain(stream, length: int) -> None:
    left = min(length, _DRAIN_BYTES)
    try:
        while left > 0:
            piece = stream.read(min(left, _PIECE))
            if not piece:
                return
            left -= len(piece)
    except OSError:  # the client went away or stalled: the answer is what it gets, if anything
        pass


def basic_login_problem(configuration, environ: dict) -> Optional[str]:
    """Why the request's Basic credentials are not a login, or None (also for none at all)."""
    value = environ.get("HTTP_AUTHORIZATION", "")
    if not value.startswith("Basic"):
        return None  # Radicale looks at Basic credentials only
    if len(value) > MAX_CREDENTIALS:
        return "credentials longer than %d characters" % MAX_CREDENTIALS
    try:
        decoded = base64.b64decode(value[len("Basic"):].strip().encode("ascii"), validate=True)
        text = httputils.decode_request(configuration, environ, decoded)
    except (binascii.Error, UnicodeError, LookupError):
        return "the credentials are not base64 text"
    return None if ":" in text else "the credentials have no colon between user and password"


def xml_problem(text: str) -> Optional[str]:
    """Why the body is not taken, or None."""
    try:
        DefusedET.fromstring(text, forbid_dtd=True)
    except (DefusedXmlException, ParseError) as e:
        return "the request body is not XML taken here (%s)" % (
            "no document type is allowed" if isinstance(e, DefusedXmlException) else e)
    return None


def _length(environ: dict) -> int:
    text = environ.get("CONTENT_LENGTH") or "0"
    return int(text) if text.isascii() and text.isdigit() else 0


def _challenge(start_response: Callable, configuration, text: str) -> List[bytes]:
    body = (text + "\n").encode("utf-8")
    realm = configuration.get("auth", "realm").replace("\\", "").replace('"', "")
    start_response("401 Unauthorized", [("Content-Type", "text/plain; charset=utf-8"),
                                        ("Content-Length", str(len(body))),
                                        ("WWW-Authenticate", 'Basic realm="%s"' % realm)])
    return [body]


class Door:
    def __init__(self, application: Callable, configuration,
                 max_body_bytes: int = MAX_BODY_BYTES) -> None:
        self._application = application
        self._configuration = configuration
        self.max_body_bytes = max_body_bytes

    def __call__(self, environ: dict, start_response: Callable) -> Iterable[bytes]:
        problem = basic_login_problem(self._configuration, environ)
        if problem:
            _drain(environ["wsgi.input"], _length(environ))
            return _challenge(start_response, self._configuration, problem)
        text = environ.get("CONTENT_LENGTH") or "0"
        # ASCII digits only: Radicale reads a negative length as "to the end", and str.isdigit
        # takes digits that int() refuses ("\u00b2")
        if not (text.isascii() and text.isdigit()):
            return _plain(start_response, 400, "Content-Length: not a length: %r" % text)
        length = int(text)
        if length > self.max_body_bytes:
            _drain(environ["wsgi.input"], length)
            return _plain(start_response, 413, "a request body of %d bytes: this server takes "
                          "at most %d" % (length, self.max_body_bytes))
        method = environ.get("REQUEST_METHOD", "").upper()
        if length and method == "PUT":
            try:
                body = _read(environ["wsgi.input"], length)
            except OSError:
                return _plain(start_response, 408, "the request body did not arrive")
            environ["wsgi.input"] = io.BytesIO(body)
            try:
                _sent.text = httputils.decode_request(self._configuration, environ, body)
            except LookupError:  # Radicale answers the charset it does not know itself
                pass
            try:
                return self._serve(environ, start_response)
            finally:
                _sent.text = None
        if length and method in XML_METHODS:
            try:
                body = _read(environ["wsgi.input"], length)
            except OSError:  # stalled past the server's time-out, or gone
                return _plain(start_response, 408, "the request body did not arrive")
            if len(body) < length:
                return _plain(start_response, 400, "the request body ended after %d of %d bytes"
                              % (len(body), length))
            try:
                problem = xml_problem(httputils.decode_request(self._configuration, environ,
                                                               body))
            except LookupError as e:  # a charset in Content-Type that Python does not know
                problem = "the request body's charset: %s" % e
            if problem:
                return _plain(start_response, 400, problem)
            environ["wsgi.input"] = io.BytesIO(body)
        return self._serve(environ, start_response)

    def _serve(self, environ: dict, start_response: Callable) -> Iterable[bytes]:
        """Radicale's answer, or the refusal's when one was made while it served."""
        answered: List = []
        refusals.begin_request()
        try:
            answers = self._application(
                environ, lambda status, headers, exc_info=None: answered.extend([status, headers]))
            refused = refusals.refusal()
        finally:
            refusals.begin_request()
        status = int(answered[0].split()[0])
        if refused is not None and status >= 400:
            code, headers, body = refusals.answer(refused)
            start_response("%d %s" % (code, client.responses.get(code, "")), headers)
            return [body]
        start_response(answered[0], answered[1])
        return answers


def serving(configuration, max_body_bytes: int = MAX_BODY_BYTES) -> Door:
    """Radicale's application for the configuration, behind the door."""
    return Door(application.Application(configuration), configuration, max_body_bytes)
