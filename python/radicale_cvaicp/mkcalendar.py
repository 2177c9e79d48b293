"""MKCALENDAR on a mailbox's calendar, which always exists here: accepted, and nothing made.

Radicale answers a MKCALENDAR on an existing collection 409 before the storage is asked. Clients
that make their calendar when they first connect would then stop; so for this storage only, that
answer on a mailbox's calendar becomes 201, once Radicale's own checks (rights first) are done."""
from http import client

from radicale.app.mkcalendar import ApplicationPartMkcalendar

_original = ApplicationPartMkcalendar.do_MKCALENDAR


def _do_mkcalendar(self, environ, base_prefix, path, user):
    status, headers, answer = _original(self, environ, base_prefix, path, user)
    is_calendar = getattr(self._storage, "is_mailbox_calendar", None)
    if status == client.CONFLICT and is_calendar is not None and is_calendar(path):
        return client.CREATED, {}, None
    return status, headers, answer


def install() -> None:
    ApplicationPartMkcalendar.do_MKCALENDAR = _do_mkcalendar
