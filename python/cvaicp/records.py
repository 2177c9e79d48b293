"""The ctypes records of include/cvaicp.h: packed, 32-bit little-endian integers, 8-bit texts.

The sizes are checked when the module is imported, so a field that drifts from the C layout
fails at once rather than corrupting the records the library fills.
"""
import ctypes

_char = ctypes.c_char
_int = ctypes.c_int32


class AppointmentRequest(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Mailbox", _char * 256), ("Postoffice", _char * 256),
                ("StartTime", _int), ("FinishTime", _int),
                ("ItemId", _char * 64), ("PeriodName", _char * 64)]


class AppointmentItemRequest(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Mailbox", _char * 256), ("Postoffice", _char * 256),
                ("ItemFileName", _char * 64), ("Data", _char * 8192),
                ("DataLength", _int)]


class FreeBusyRequest(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Mailbox", _char * 256), ("Postoffice", _char * 256),
                ("NamePrefix", _char * 68), ("BusyDays", _char * 8192),
                ("BusyDaysLength", _int)]


class ListContext(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Reserved", _char * 1024), ("RangeStart", _int), ("RangeEnd", _int),
                ("Postoffice", _char * 128), ("Mailbox", _char * 128),
                ("Stylesheet", _char * 4096), ("Reserved2", _char * 4)]


class ListItem(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Mailbox", _char * 256), ("Postoffice", _char * 256),
                ("StartTime", _int), ("FinishTime", _int),
                ("ItemId", _char * 64), ("ItemXml", _char * 8192),
                ("ItemXmlLength", ctypes.c_uint32)]


SIZES = {AppointmentRequest: 648, AppointmentItemRequest: 8772, FreeBusyRequest: 8776,
         ListContext: 5388, ListItem: 8780}
for _record, _size in SIZES.items():
    if ctypes.sizeof(_record) != _size:
        raise ImportError("%s is %d bytes, not %d" % (_record.__name__,
                                                      ctypes.sizeof(_record), _size))


def field_capacity(record: type, name: str) -> int:
    """Bytes a text field holds, its terminating NUL included."""
    return getattr(record, name).size
