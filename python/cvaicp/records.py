"""The ctypes records of include/cvaicp.h: packed, 32-bit little-endian integers, 8-bit texts.

They are made from _layout.py, which the compiler's own view of the header wrote (field names,
kinds, sizes and offsets), and checked against it when the module is imported, so that a record
can never drift from the C layout and corrupt what the library fills in.
"""
import ctypes

from ._layout import RECORDS

_KINDS = {"int32": ctypes.c_int32, "uint32": ctypes.c_uint32}


def _record(name: str) -> type:
    size, fields = RECORDS[name]
    layout = [(field, _KINDS[kind] if kind in _KINDS else ctypes.c_char * length)
              for field, kind, length, _ in fields]
    record = type(name, (ctypes.Structure,), {"_pack_": 1, "_fields_": layout,
                                              "__doc__": "The %s record of cvaicp.h." % name})
    for field, _, length, offset in fields:
        member = getattr(record, field)
        if (member.offset, member.size) != (offset, length):
            raise ImportError("%s.%s: at %d, %d bytes; the header says %d, %d" % (
                name, field, member.offset, member.size, offset, length))
    if ctypes.sizeof(record) != size:
        raise ImportError("%s is %d bytes, not %d" % (name, ctypes.sizeof(record), size))
    return record


AppointmentRequest = _record("AppointmentRequest")
AppointmentItemRequest = _record("AppointmentItemRequest")
FreeBusyRequest = _record("FreeBusyRequest")
ListContext = _record("ListContext")
ListItem = _record("ListItem")
BY_NAME = {r.__name__: r for r in (AppointmentRequest, AppointmentItemRequest, FreeBusyRequest,
                                     ListContext, ListItem)}


def field_capacity(record: type, name: str) -> int:
    """Bytes a text field holds, its terminating NUL included."""
    return getattr(record, name).size
