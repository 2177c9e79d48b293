"""The calendar provider library from Python: its exports called as a host calls them.

    lib = cvaicp.Library()
    box = lib.mailbox("example", "anna")
    box.walk(cvaicp.period_name(start, finish))

A configuration or mailbox that is not there raises (CvaicpError and its kinds) instead of
answering like an empty calendar.
"""
from ._layout import VERSION as __version__
from .errors import (ConfigurationError, CvaicpError, NotFoundError, RefusedError,
                     RemoteUnreachableError)
from .library import Library
from .mailbox import Appointment, ListedItem, Mailbox
from .periods import is_period_name, period_name
from .records import (AppointmentItemRequest, AppointmentRequest, FreeBusyRequest, ListContext,
                      ListItem)

__all__ = ["Library", "Mailbox", "Appointment", "ListedItem", "period_name", "is_period_name",
           "AppointmentRequest", "AppointmentItemRequest", "FreeBusyRequest", "ListContext",
           "ListItem", "CvaicpError", "ConfigurationError", "NotFoundError", "RefusedError",
           "RemoteUnreachableError", "__version__"]
