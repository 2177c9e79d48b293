"""A fresh store per test: a temporary mail root, its own .reg, and its own copy of the library
(which reads the mail root once, when it loads), all in one zone with summer time."""
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
from cvaicp.library import DEFAULT_PATH  # noqa: E402
from cvaicp.registry import write_reg  # noqa: E402

LIBRARY = os.environ.get("CVAICP_LIBRARY") or DEFAULT_PATH
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
        os.environ["CVAICP_LIBRARY"] = copy  # for what loads it by itself (the plugin)
        self.box = self.lib.mailbox("po", "anna")

    def cvcal(self, *args: str) -> str:
        return subprocess.run([CVCAL, "--registry", self.reg, *args], check=True,
                              capture_output=True, text=True).stdout

    def files(self) -> dict:
        """Every file under the work folder but the library copy, with its bytes."""
        return {os.path.join(folder, name): pathlib.Path(folder, name).read_bytes()
                for folder, _, names in os.walk(self.work) for name in names
                if name != "libcvaicp.so"}
