"""A PROPFIND's answer written a few hundred responses at a time.

Radicale builds the element tree of every response before it writes any: a Depth 1 PROPFIND of a
50,000-object calendar holds some 350,000 elements (about 70 MB) besides the answer's text, and
that was the door's peak of memory. Here each response is still made by Radicale's own
xml_propfind_response, but the responses are serialized in chunks as they come and let go of,
and the answer is their texts: the same bytes as Radicale's, whose serializer declares every
namespace once, on the multistatus, by its registered prefix. That holds when every property
asked for is in a namespace Radicale registers (any other would be numbered anew in each chunk),
so other requests, allprop and propname (which add the collections' own properties) are answered
by Radicale's PROPFIND as they were."""
import re
from typing import Dict, Optional
from xml.etree import ElementTree as ET

from radicale import xmlutils
from radicale.app import propfind

from .reports import MultistatusText, serving_on

_CHUNK = 256
_PROP = xmlutils.make_clark("D:prop")
_REGISTERED = frozenset(xmlutils.NAMESPACES.values())
_DECLARATION = re.compile(r' xmlns(?::([^=]+))?="([^"]*)"')

_fallback = propfind.xml_propfind


def _namespace(tag: str) -> Optional[str]:
    return tag[1:tag.index("}")] if tag.startswith("{") and "}" in tag else None


def _chunked(xml_request: Optional[ET.Element]) -> bool:
    if xml_request is None or len(xml_request) == 0 or xml_request[0].tag != _PROP:
        return False
    return all(_namespace(p.tag) in _REGISTERED for p in xml_request[0])


def _xml_propfind(base_prefix, path, xml_request, allowed_items, user, encoding):
    if not (serving_on() and _chunked(xml_request)):
        return _fallback(base_prefix, path, xml_request, allowed_items, user, encoding)
    props = [p.tag for p in xml_request[0]]
    if xmlutils.make_clark("D:current-user-principal") in props and not user:
        return None  # as Radicale asks for a login
    answer = MultistatusText(encoding)
    declared: Dict[str, str] = {}
    chunk = ET.Element(xmlutils.make_clark("D:multistatus"))

    def write_chunk() -> None:
        text = ET.tostring(chunk, encoding="unicode")
        start = text.index(">") + 1
        declared.update((prefix or "", uri) for prefix, uri in
                        _DECLARATION.findall(text[:start]))
        answer.write(text[start:-len("</multistatus>")])
        chunk.clear()

    for item, permission in allowed_items:
        chunk.append(propfind.xml_propfind_response(
            base_prefix, path, item, props, user, encoding, write=permission == "w"))
        if len(chunk) == _CHUNK:
            write_chunk()
    if len(chunk):
        write_chunk()
    return answer.rendered("".join(' xmlns%s="%s"' % (":" + prefix if prefix else "", uri)
                                   for prefix, uri in sorted(declared.items())))


def install() -> None:
    global _fallback
    if propfind.xml_propfind is not _xml_propfind:
        _fallback = propfind.xml_propfind
        propfind.xml_propfind = _xml_propfind


__all__ = ["install"]
