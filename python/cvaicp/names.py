"""Names that come from outside (postoffices, mailboxes, item and period names) are checked here
before they reach a record: a name is one path component that fits its field."""

from .errors import RefusedError

_FORBIDDEN = ("/", "\\", ":", "\0")


def encode_name(name: str, capacity: int, what: str) -> bytes:
    """The name's bytes for a field of `capacity` bytes (NUL included); ValueError otherwise."""
    if not isinstance(name, str):
        raise RefusedError("%s: not a text" % what)
    if name in ("", ".", "..") or any(c in name for c in _FORBIDDEN):
        raise RefusedError("%s: not a single folder or file name: %r" % (what, name))
    data = name.encode("utf-8", errors="surrogateescape")
    if len(data) >= capacity:
        raise RefusedError("%s: longer than %d bytes: %r" % (what, capacity - 1, name))
    return data


def encode_text(text: str, capacity: int, what: str) -> bytes:
    """A free text (a stylesheet) for a field; ValueError when it holds NUL or does not fit."""
    data = text.encode("utf-8")
    if b"\0" in data or len(data) >= capacity:
        raise RefusedError("%s: holds a NUL or longer than %d bytes" % (what, capacity - 1))
    return data
