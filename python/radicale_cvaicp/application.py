"""Radicale's application with its XML answers written in one piece, and the REPORTs that
reports.py writes itself sent as they were written.

Radicale writes an answer's element tree through a text wrapper over a byte buffer, and every
one of the serializer's writes (a multiget of 100 makes thousands, a listing of a large calendar
millions) goes through the wrapper's encoder and resets its decoder. Written to a string and
encoded once, the answer is the same bytes: the same declaration, the same serializer, the same
encoding with character references for what it cannot encode."""
import logging
from xml.etree import ElementTree as ET

import radicale
from radicale import xmlutils
from radicale.log import logger

from . import reports


class Application(radicale.Application):
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
        return ("<?xml version='1.0' encoding='%s'?>\n%s" % (self._encoding, text)).encode(
            self._encoding, "xmlcharrefreplace")
