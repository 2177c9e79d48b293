"""The native library loaded with ctypes, every export declared as include/cvaicp.h has it."""
import ctypes
import os
from typing import Optional

from . import records
from ._layout import EXPORTS
from .errors import ConfigurationError
from .mailbox import ITEM_AND_LIST_LOCK, Mailbox

__all__ = ["Library", "Mailbox", "ITEM_AND_LIST_LOCK", "DEFAULT_PATH"]

_HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PATH = os.path.join(_HERE, "..", "..", "build", "native", "lib", "libcvaicp.so")

# Every export of the table, with the records it takes (include/cvaicp_exports.h, through
# _layout.py): the binding declares what the header declares, no fewer.
_ARGUMENTS = {"text": ctypes.c_char_p}
_ARGUMENTS.update({name: ctypes.POINTER(record) for name, record in records.BY_NAME.items()})
_EXPORTS = {name: [_ARGUMENTS[a] for a in arguments] for name, arguments in EXPORTS.items()}


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
        try:
            self.dll = ctypes.CDLL(self.path)
        except OSError as e:
            raise ConfigurationError("the library %s does not load: %s" % (self.path, e),
                                     "library-not-loaded") from None
        for name, arguments in _EXPORTS.items():
            function = getattr(self.dll, name)
            function.argtypes = arguments
            function.restype = ctypes.c_int32

    def mailbox(self, postoffice: str, mailbox: str) -> Mailbox:
        """A mailbox of the store; its folders are looked at by each call, not here."""
        return Mailbox(self, postoffice, mailbox)

