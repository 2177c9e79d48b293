"""The calendar provider library from Python: its exports called as a host calls them.

    lib = cvaicp.Library()
    box = lib.mailbox("example", "anna")
    box.walk(cvaicp.period_name(start, finish))
"""
from .library import Library
from .mailbox import Appointment, ListedItem, Mailbox
from .periods import period_name
from .records import (AppointmentItemRequest, AppointmentRequest, FreeBusyRequest, ListContext,
                      ListItem)

__all__ = ["Library", "Mailbox", "Appointment", "ListedItem", "period_name",
           "AppointmentRequest", "AppointmentItemRequest", "FreeBusyRequest", "ListContext",
           "ListItem"]
