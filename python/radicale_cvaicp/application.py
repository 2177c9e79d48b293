"""Radicale's application with its XML answers written in one piece, the answers that
reports.py and propfind.py write sent as they were written, and the request's headers formatted
for the debug log only when that log is written.

Radicale writes an answer's element tree through a text wrapper over a byte buffer, and every
one of the serializer's writes (a multiget of 100 makes thousands, a listing of a large calendar
millions) goes through the wrapper's encoder and resets its decoder. Written to a string and
encoded once, the answer is the same bytes: the same declaration, the same serializer, the same
encoding with character references for what it cannot encode."""
import logging
import pprint
from xml.etree import ElementTree as ET

import radicale
from radicale import xmlutils
from radicale.log import logger

from . import reports


class _Formatted:
    """pprint.pformat's text of a value, made when a log line is written: Radicale formats every
    request's headers for its debug log, which costs as much as a small request's own work."""
    __slots__ = ("_value",)

    def __init__(self, value) -> None:
        self._value = value

    def __str__(self) -> str:
        return pprint.pformat(self._value)


class _LazyPprint:
    pformat = _Formatted


class Application(radicale.Application):
    def __init__(self, configuration) -> None:
        super().__init__(configuration)
        radicale.app.pprint = _LazyPprint  # the module's one use: the headers' debug line

    def do_REPORT(self, environ, base_prefix, path, user):
        with reports.serving():
            return super().do_REPORT(environ, base_prefix, path, user)

    def do_PROPFIND(self, environ, base_prefix, path, user):
        with reports.serving():
            return super().do_PROPFIND(environ, base_prefix, path, user)

    def _xml_response(self, xml_content: ET.Element) -> bytes:
        if isinstance(xml_content, reports.Rendered):
            return xml_content.body
        if logger.isEnabledFor(logging.DEBUG):
            logger.debug("Response content:\n%s", xmlutils.pretty_xml(xml_content))
        text = ET.tostring(xml_content, encoding="unicode")
        return (reports.declaration(self._encoding) + text).encode(self._encoding,
                                                                   "xmlcharrefreplace")
