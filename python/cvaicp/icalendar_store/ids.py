"""Names of the appointments of an iCalendar object: derived from its UID by hashing, so that a
UID from outside never becomes a path, and the same in every language that writes the store."""

_BASIS = 0xCBF29CE484222325
_PRIME = 0x100000001B3
PREFIX = "IC"


def _fnv1a64(data: bytes) -> int:
    value = _BASIS
    for byte in data:
        value = ((value ^ byte) * _PRIME) & 0xFFFFFFFFFFFFFFFF
    return value


def master_id(uid: str) -> str:
    """IC, then FNV-1a of the UID and of "cvaicp:" + UID, each as 16 upper-case hex digits."""
    data = uid.encode("utf-8", "surrogateescape")
    return "%s%016X%016X" % (PREFIX, _fnv1a64(data), _fnv1a64(b"cvaicp:" + data))


def occurrence_id(master: str, start: int) -> str:
    return "%s-%d" % (master, start)


def is_master_id(name: str) -> bool:
    hexdigits = "0123456789ABCDEFabcdef"
    return (len(name) == 34 and name[:2].upper() == PREFIX and
            all(c in hexdigits for c in name[2:]))
