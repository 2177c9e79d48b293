"""The native library loaded with ctypes, its exports declared as include/cvaicp.h has them."""
import ctypes
import os
from typing import Optional

from . import records
from .mailbox import ITEM_AND_LIST_LOCK, Mailbox

__all__ = ["Library", "Mailbox", "ITEM_AND_LIST_LOCK", "DEFAULT_PATH"]

_HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PATH = os.path.join(_HERE, "..", "..", "build", "native", "lib", "libcvaicp.so")

_P = ctypes.POINTER
_EXPORTS = {
    "AppointmentAdd": [_P(records.AppointmentRequest)],
    "AppointmentRemove": [_P(records.AppointmentRequest)],
    "AppointmentEdit": [_P(records.AppointmentRequest), _P(records.AppointmentRequest)],
    "AppointmentGet": [_P(records.AppointmentRequest)],
    "AppointmentFindFirst": [_P(records.AppointmentRequest)],
    "AppointmentFindNext": [_P(records.AppointmentRequest)],
    "AppointmentItemGetFirstChunk": [_P(records.AppointmentItemRequest)],
    "AppointmentItemGetNextChunk": [_P(records.AppointmentItemRequest)],
    "AppointmentItemGetSize": [_P(records.AppointmentItemRequest)],
    "AppointmentItemWriteFirstChunk": [_P(records.AppointmentItemRequest)],
    "AppointmentItemWriteNextChunk": [_P(records.AppointmentItemRequest)],
    "AppointmentItemDelete": [_P(records.AppointmentItemRequest)],
    "GetFreeBusyData": [_P(records.FreeBusyRequest)],
    "AppointmentListItemFindFirst": [_P(records.ListContext), _P(records.ListItem)],
    "AppointmentListItemFindNext": [_P(records.ListContext), _P(records.ListItem)],
    "AppointmentListItemFindClose": [_P(records.ListContext)],
}


class Library:
    """libcvaicp.so: `path`, else $CVAICP_LIBRARY, else the native build's. The library reads
    $CVAICP_REGISTRY when it loads, so that is set first."""

    AppointmentRequest = records.AppointmentRequest
    AppointmentItemRequest = records.AppointmentItemRequest
    FreeBusyRequest = records.FreeBusyRequest
    ListContext = records.ListContext
    ListItem = records.ListItem

    def __init__(self, path: Optional[str] = None) -> None:
        self.path = os.path.abspath(path or os.environ.get("CVAICP_LIBRARY") or DEFAULT_PATH)
        self.dll = ctypes.CDLL(self.path)
        for name, arguments in _EXPORTS.items():
            function = getattr(self.dll, name)
            function.argtypes = arguments
            function.restype = ctypes.c_int32

    def mailbox(self, postoffice: str, mailbox: str) -> Mailbox:
        return Mailbox(self, postoffice, mailbox)

