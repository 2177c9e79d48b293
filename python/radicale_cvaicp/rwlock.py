"""A reader/writer lock for the threads of one process. Other processes (hosts, cvcal) are kept
in order by the store's own blocking files, not by this."""
import contextlib
import threading
from typing import Iterator


class ReadWriteLock:
    def __init__(self) -> None:
        self._condition = threading.Condition()
        self._readers = 0
        self._writer = False

    @contextlib.contextmanager
    def hold(self, mode: str) -> Iterator[None]:
        with self._condition:
            if mode == "r":
                self._condition.wait_for(lambda: not self._writer)
                self._readers += 1
            else:
                self._condition.wait_for(lambda: not self._writer and self._readers == 0)
                self._writer = True
        try:
            yield
        finally:
            with self._condition:
                if mode == "r":
                    self._readers -= 1
                else:
                    self._writer = False
                self._condition.notify_all()
