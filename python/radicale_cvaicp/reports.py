"""The REPORTs that clients send most, answered without an element tree.

A client that follows a calendar asks what changed by sync-collection, fetches those objects by
calendar-multiget, and asks for a week or a month by calendar-query, each time for etags and
often texts. Radicale answers each by building an element per response, property and status and
then serializing the tree: for a hundred objects that takes longer than reading them from the
store, and a first sync of 50,000 objects holds 50,000 responses' elements at once. When a
request asks only for getetag, getcontenttype and calendar-data (without expand) of this
storage's calendar, the answer is written here as text: the same responses, statuses and bytes
per response as Radicale's (its own functions make the hrefs, and its filter decides whatever
the catalogue cannot), a hundred objects read at a time. Every other request, and every request
through an application other than this package's, is Radicale's. Radicale's REPORT around this
(rights, the storage's lock, a 400 for a bad filter) is unchanged: the answer goes back to it as
an element that carries its bytes (Rendered)."""
import codecs
import threading
import types
from http import client
from typing import Iterable, List, Optional, Tuple
from urllib.parse import quote, unquote, urlparse
from xml.etree import ElementTree as ET

from radicale import pathutils, xmlutils
from radicale.app import report
from radicale.log import logger

from .paths import safe_href

_MULTIGET, _QUERY = xmlutils.make_clark("C:calendar-multiget"), xmlutils.make_clark("C:calendar-query")
_SYNC, _TOKEN = xmlutils.make_clark("D:sync-collection"), xmlutils.make_clark("D:sync-token")
_PROP, _HREF = xmlutils.make_clark("D:prop"), xmlutils.make_clark("D:href")
_FILTER, _CARD_FILTER = xmlutils.make_clark("C:filter"), xmlutils.make_clark("CR:filter")
_ETAG, _DATA = xmlutils.make_clark("D:getetag"), xmlutils.make_clark("C:calendar-data")
_TYPE = xmlutils.make_clark("D:getcontenttype")
# What this storage's items are (ListedItem): every object a VCALENDAR of VEVENTs.
_ITEM_KIND = types.SimpleNamespace(name="VCALENDAR", component_name="VEVENT")
_OK, _MISSING = xmlutils.make_response(200), xmlutils.make_response(404)
_BATCH = 100

_fallback = report.xml_report
_serving = threading.local()


class Rendered(ET.Element):
    """A multistatus already written: the application sends its bytes as they are."""

    def __init__(self, body: bytes) -> None:
        super().__init__(xmlutils.make_clark("D:multistatus"))
        self.body = body


def declaration(encoding: str) -> str:
    """The XML declaration Radicale's answers begin with."""
    return "<?xml version='1.0' encoding='%s'?>\n" % encoding


class MultistatusText:
    """A multistatus written a piece at a time, the pieces encoded as they come, 64 KiB of text
    at a time: a large answer is held as its encoded chunks and then as the bytes sent, not also as
    its pieces' texts, their join and the join's encoding (a first sync of 50,000 objects is
    some 12 MB of text)."""
    _PENDING = 1 << 16

    def __init__(self, encoding: str) -> None:
        self._encoding = encoding
        # One encoder for the body, its start (a byte order mark) spent here: the declaration,
        # encoded on its own, carries it.
        self._encoder = codecs.getincrementalencoder(encoding)("xmlcharrefreplace")
        self._encoder.encode("")
        self._chunks: List[bytes] = []
        self._pending: List[str] = []
        self._pending_size = 0

    def write(self, text: str) -> None:
        self._pending.append(text)
        self._pending_size += len(text)
        if self._pending_size >= self._PENDING:
            self._encode_pending()

    def _encode_pending(self) -> None:
        if self._pending:
            self._chunks.append(self._encoder.encode("".join(self._pending)))
            self._pending.clear()
            self._pending_size = 0

    def rendered(self, namespaces: str) -> Rendered:
        """The answer, its multistatus declaring `namespaces` (' xmlns="DAV:"', ...); with
        nothing written, the empty element as Radicale's serializer writes it."""
        self._encode_pending()
        if not self._chunks:
            return Rendered((declaration(self._encoding) + '<multistatus xmlns="DAV:" />').encode(
                self._encoding, "xmlcharrefreplace"))
        start = (declaration(self._encoding) + "<multistatus%s>" % namespaces).encode(
            self._encoding, "xmlcharrefreplace")
        chunks, self._chunks = self._chunks, []
        chunks.insert(0, start)
        chunks.append(self._encoder.encode("</multistatus>", True))
        return Rendered(b"".join(chunks))


def _escaped(text: str) -> str:
    # As the serializer escapes text: only what would end it.
    if "&" in text:
        text = text.replace("&", "&amp;")
    if "<" in text:
        text = text.replace("<", "&lt;")
    if ">" in text:
        text = text.replace(">", "&gt;")
    return text


class _Writer:
    def __init__(self, base_prefix: str, props: List[str], collection, encoding: str) -> None:
        self._base_prefix, self._props = base_prefix, props
        self._answer = MultistatusText(encoding)
        self._content_type = xmlutils.get_content_type(_ITEM_KIND, encoding)
        self.uses_caldav = False
        self.wants_text = _DATA in props
        # A member's path as Radicale makes it (unstrip_path of the collection's path joined
        # with the name), without its checks of what is sane by construction.
        self.members = pathutils.unstrip_path(collection.path, True)

    def _href(self, path: str) -> str:
        # make_href, whose check of the path is sanitize_path's, which made it
        return "<href>%s</href>" % _escaped(quote(self._base_prefix + path))

    def missing(self, path: str) -> None:
        self._answer.write("<response>%s<status>%s</status></response>" % (
            self._href(path), _MISSING))

    def found(self, path: str, etag: str, text: str) -> None:
        props = []
        for tag in self._props:
            if tag == _ETAG:
                props.append("<getetag>%s</getetag>" % _escaped(etag) if etag else "<getetag />")
            elif tag == _TYPE:
                props.append("<getcontenttype>%s</getcontenttype>" % _escaped(self._content_type))
            else:
                self.uses_caldav = True
                props.append("<C:calendar-data>%s</C:calendar-data>" % _escaped(text)
                             if text else "<C:calendar-data />")
        self._answer.write("<response>%s<propstat><prop>%s</prop><status>%s</status>"
                           "</propstat></response>" % (self._href(path), "".join(props), _OK))

    def sync_token(self, token: str) -> None:
        self._answer.write("<sync-token>%s</sync-token>" % _escaped(token))

    def rendered(self) -> Rendered:
        return self._answer.rendered(' xmlns="DAV:"' + (
            ' xmlns:C="urn:ietf:params:xml:ns:caldav"' if self.uses_caldav else ""))


def _plain_props(root: ET.Element) -> Optional[List[str]]:
    """The asked properties when they are only getetag, getcontenttype and calendar-data
    without expand or other parts; else None."""
    prop = root.find(_PROP)
    if prop is None or len(prop) == 0:
        return None
    tags = [p.tag for p in prop]
    if any(t not in (_ETAG, _TYPE, _DATA) for t in tags) or any(len(p) for p in prop):
        return None
    return tags


def _multiget(base_prefix: str, root: ET.Element, collection, writer: _Writer,
              unlock) -> bool:
    path = pathutils.unstrip_path(collection.path, True)
    names: List[str] = []
    for element in root.findall(_HREF):
        if element.text is None:
            return False
        href_path = pathutils.sanitize_path(unquote(urlparse(element.text).path))
        if not (href_path + "/").startswith(base_prefix + "/"):
            logger.warning("Skipping invalid path %r in REPORT request on %r", href_path, path)
            continue  # as Radicale does
        reference = href_path[len(base_prefix):]
        # name_from_path: a member's name, "" for the collection itself, else not ours (404)
        if not (reference + "/").startswith(writer.members):
            writer.missing(reference)
            continue
        name = reference[len(writer.members):]
        if not name:
            return False  # the collection itself: all of it, as Radicale lists it
        if not pathutils.is_safe_path_component(name):
            writer.missing(reference)
            continue
        names.append(name)
    _members(list(dict.fromkeys(names)), collection, writer)
    unlock()
    return True


def _members(names: List[str], collection, writer: _Writer) -> None:
    """The responses for these members, read a batch at a time, and only their etags unless
    their texts are asked for."""
    for at in range(0, len(names), _BATCH):
        asked = names[at:at + _BATCH]
        safe = [n for n in asked if safe_href(n)]
        found = collection.stored(safe) if writer.wants_text else collection.listed(safe)
        for name in asked:
            got = found.get(name)
            if got is None:
                writer.missing(writer.members + name)
            else:
                writer.found(writer.members + name, got.etag, getattr(got, "text", ""))


def _sync(base_prefix: str, root: ET.Element, collection, writer: _Writer, unlock):
    element = root.find(_TOKEN)
    old = element.text.strip() if element is not None and element.text else ""
    try:
        token, names = collection.sync(old)
    except ValueError as e:
        logger.warning("Client provided invalid sync token %r: %s", old, e, exc_info=True)
        return client.FORBIDDEN, xmlutils.webdav_error("D:valid-sync-token")
    writer.sync_token(token)
    names = list(names)
    if not all(pathutils.is_safe_path_component(n) for n in names):
        return None  # Radicale answers those 404 under their paths
    _members(names, collection, writer)
    unlock()
    return True


def _query(base_prefix: str, root: ET.Element, collection, writer: _Writer, unlock) -> bool:
    if root.findall(_CARD_FILTER):
        return False
    filters = root.findall(_FILTER)
    retrieved: List[Tuple[object, bool]] = list(collection.get_filtered(filters))
    unlock()
    tag = collection.tag
    for item, matched in retrieved:
        if filters and not matched:
            try:
                if not all(report.test_filter(tag, item, f) for f in filters):
                    continue
            except ValueError as e:
                raise ValueError("Failed to filter item %r from %r: %s" %
                                 (item.href, collection.path, e)) from e
            except Exception as e:
                raise RuntimeError("Failed to filter item %r from %r: %s" %
                                   (item.href, collection.path, e)) from e
        text = item.serialize() if writer.wants_text else ""
        writer.found(writer.members + item.href, item.etag, text)
    return True


def _xml_report(base_prefix, path, xml_request, collection, encoding, unlock_storage_fn):
    from .collection import CalendarCollection  # which imports the package, and with it this

    if (serving_on() and xml_request is not None and
            xml_request.tag in (_MULTIGET, _QUERY, _SYNC) and
            isinstance(collection, CalendarCollection)):
        props = _plain_props(xml_request)
        if props is not None:
            writer = _Writer(base_prefix, props, collection, encoding)
            answer = {_MULTIGET: _multiget, _QUERY: _query, _SYNC: _sync}[xml_request.tag]
            done = answer(base_prefix, xml_request, collection, writer, unlock_storage_fn)
            if done is True:
                return client.MULTI_STATUS, writer.rendered()
            if done:
                return done  # a refusal, as Radicale's
    return _fallback(base_prefix, path, xml_request, collection, encoding, unlock_storage_fn)


class serving:
    """While the application that sends Rendered answers serves a request."""

    def __enter__(self) -> None:
        _serving.on = True

    def __exit__(self, *_) -> None:
        _serving.on = False


def serving_on() -> bool:
    return getattr(_serving, "on", False)


def install() -> None:
    """Ahead of the REPORT installed so far (expand's), once."""
    global _fallback
    if report.xml_report is not _xml_report:
        _fallback = report.xml_report
        report.xml_report = _xml_report


__all__: Iterable[str] = ["MultistatusText", "Rendered", "declaration", "install", "serving",
                          "serving_on"]
