"""Radicale's htpasswd check, with the logins it has just verified remembered.

A CalDAV client sends its password with every request, and bcrypt makes each check cost a
millisecond or more by design: a client following a calendar would pay it on every request. A
login that passed is remembered for a minute under a digest of its name and password, salted
anew in each process (no password is kept), and only while the htpasswd file is the one it was
checked against: a changed or removed password takes effect at the next request. A failed login
is never remembered, so guessing costs what it did."""
import hashlib
import os
import threading
import time
from collections import OrderedDict
from typing import Optional, Tuple

from radicale.auth import htpasswd

_SECONDS = 60
_KEPT = 1024


def _signature(path: str) -> Optional[Tuple[int, int, int, int]]:
    try:
        st = os.stat(path)
    except OSError:
        return None
    return (st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)


class Auth(htpasswd.Auth):
    def __init__(self, configuration) -> None:
        super().__init__(configuration)
        self._salt = os.urandom(32)
        self._passed: "OrderedDict[bytes, tuple]" = OrderedDict()
        self._lock = threading.Lock()

    def login(self, login: str, password: str) -> str:
        key = hashlib.sha256(self._salt + login.encode("utf-8", "surrogatepass") + b"\0" +
                             password.encode("utf-8", "surrogatepass")).digest()
        signature, now = _signature(self._filename), time.monotonic()
        with self._lock:
            known = self._passed.get(key)
            if known is not None and known[0] == signature and now < known[1]:
                return known[2]
        user = super().login(login, password)
        # The file is looked at before the check: one changed during it is not trusted later.
        if user and signature is not None:
            with self._lock:
                self._passed[key] = (signature, now + _SECONDS, user)
                self._passed.move_to_end(key)
                while len(self._passed) > _KEPT:
                    self._passed.popitem(last=False)
        return user
