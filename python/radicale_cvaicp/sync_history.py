"""Sync tokens of a calendar. A token is the digest of the calendar's (href, etag) pairs, so it
changes with every change, whoever made it (this server, a host, cvcal). A short history of the
states behind recent tokens is kept in the state folder, so that a client's old token yields the
hrefs changed since."""
import hashlib
import json
import os
import tempfile
import threading
from typing import Dict, List, Tuple

PREFIX = "http://radicale.org/ns/sync/"
KEEP = 32
_lock = threading.Lock()


def token_of(state: Dict[str, str]) -> str:
    digest = hashlib.sha256()
    for href, etag in sorted(state.items()):
        digest.update(("%s\0%s\0" % (href, etag)).encode("utf-8", "surrogateescape"))
    return PREFIX + digest.hexdigest()


def _load(path: str) -> List[Dict]:
    try:
        with open(path, encoding="utf-8") as f:
            history = json.load(f)
        return history if isinstance(history, list) else []
    except (OSError, ValueError):
        return []


def _save(path: str, history: List[Dict]) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".sync-")
    with os.fdopen(handle, "w", encoding="utf-8") as f:
        json.dump(history, f)
    os.replace(temporary, path)


def sync(path: str, state: Dict[str, str], old_token: str) -> Tuple[str, List[str]]:
    """The current token and the hrefs changed since old_token (all for ""); ValueError for a
    token this history does not know."""
    token = token_of(state)
    with _lock:
        history = _load(path)
        known = {entry.get("token"): entry.get("state", {}) for entry in history}
        if token not in known:
            history = [e for e in history if e.get("token") != token][-(KEEP - 1):]
            history.append({"token": token, "state": state})
            _save(path, history)
    if not old_token:
        return token, sorted(state)
    if old_token == token:
        return token, []
    if old_token not in known:
        raise ValueError("unknown sync token %r" % old_token)
    old = known[old_token]
    changed = {h for h in set(old) | set(state) if old.get(h) != state.get(h)}
    return token, sorted(changed)
