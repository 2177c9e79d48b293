"""A user's calendar home: /POSTOFFICE/MAILBOX/, whose one member is the mailbox's calendar.

Radicale names a principal's own URL as its calendar-home-set. A principal here (/USER/, USER
being MAILBOX@POSTOFFICE) has no members: its calendar lives below the mailbox, and a Depth 1
listing of the principal that named it would name a resource outside the collection listed
(RFC 4918, 5.2). So a principal's calendar-home-set names the mailbox's folder instead, and the
principal's URL keeps answering for the clients that were set up with it."""
from xml.etree import ElementTree as ET

from radicale import storage, xmlutils
from radicale.app import propfind

from .paths import user_mailbox

_original = propfind.xml_propfind_response
_HOME = xmlutils.make_clark("C:calendar-home-set")


def home_path(user: str):
    """/POSTOFFICE/MAILBOX/ of a user MAILBOX@POSTOFFICE, or None."""
    owner = user_mailbox(user)
    return "/%s/%s/" % owner if owner is not None else None


def _response(base_prefix, path, item, props, user, encoding, write=False, propname=False,
              allprop=False) -> ET.Element:
    response = _original(base_prefix, path, item, props, user, encoding, write=write,
                         propname=propname, allprop=allprop)
    home = home_path(item.path) if isinstance(item, storage.BaseCollection) and \
        item.is_principal else None
    if home is not None:
        for element in response.iter(_HOME):
            for href in element.iter(xmlutils.make_clark("D:href")):
                href.text = xmlutils.make_href(base_prefix, home)
    return response


def install() -> None:
    propfind.xml_propfind_response = _response
