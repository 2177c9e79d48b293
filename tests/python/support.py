"""A fresh store per test: a temporary mail root, its own .reg, and its own copies of the
libraries (which read the mail root once, when they load or first call), all in one zone with
summer time."""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

os.environ["TZ"] = "Europe/Berlin"
time.tzset()

import cvaicp  # noqa: E402
from cvaicp import icalendar  # noqa: E402
from cvaicp.library import DEFAULT_PATH  # noqa: E402
from cvaicp.registry import write_reg  # noqa: E402

LIBRARY = os.environ.get("CVAICP_LIBRARY") or DEFAULT_PATH
ICALENDAR = os.environ.get("CVAICP_ICALENDAR_LIBRARY") or icalendar.DEFAULT_PATH
CVCAL = os.environ.get("CVCAL") or os.path.join(os.path.dirname(LIBRARY), "..", "bin", "cvcal")
DEC7 = 1796634000  # 2026-12-07 09:00 UTC
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


class StoreTest(unittest.TestCase):
    def setUp(self) -> None:
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.root = os.path.join(self.work, "store")
        os.makedirs(os.path.join(self.root, "po", "MAILROOT", "anna", "Calendar"))
        self.reg = os.path.join(self.work, "r.reg")
        write_reg(self.reg, self.root, waits=0)
        os.environ["CVAICP_REGISTRY"] = self.reg
        copy = os.path.join(self.work, "libcvaicp.so")
        shutil.copy(LIBRARY, copy)
        self.lib = cvaicp.Library(copy)
        self.addCleanup(os.environ.__setitem__, "CVAICP_LIBRARY", LIBRARY)
        os.environ["CVAICP_LIBRARY"] = copy
        self.box = self.lib.mailbox("po", "anna")
        self.icalendar = self.icalendar_library()
        self.addCleanup(os.environ.__setitem__, "CVAICP_ICALENDAR_LIBRARY", ICALENDAR)
        os.environ["CVAICP_ICALENDAR_LIBRARY"] = self.icalendar.path  # for the plugin
        self.state = os.path.join(self.work, "state")

    def icalendar_library(self) -> icalendar.Library:
        """A copy of its own: one more process, as far as the library's state goes."""
        copy = tempfile.mktemp(dir=self.work, prefix="libcvaicp_icalendar-", suffix=".so")
        shutil.copy(ICALENDAR, copy)
        return icalendar.Library(copy)

    def calendar(self, library=None, state=None, watch=True, **window) -> icalendar.Calendar:
        """Anna's calendar, refreshed, through a library (this test's first by default)."""
        calendar = (library or self.icalendar).open("po", "anna", state or self.state,
                                                    icalendar.Window(**window), watch=watch)
        calendar.refresh()
        return calendar

    def cvcal(self, *args: str) -> str:
        return subprocess.run([CVCAL, "--registry", self.reg, *args], check=True,
                              capture_output=True, text=True).stdout

    def files(self, under: str = "") -> dict:
        """Every file under the work folder (or a folder of it) but the library copies, with its
        bytes."""
        return {os.path.join(folder, name): pathlib.Path(folder, name).read_bytes()
                for folder, _, names in os.walk(under or self.work) for name in names
                if not name.endswith(".so")}
