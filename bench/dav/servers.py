"""The two CalDAV servers, each a process of its own on a free loopback port: ours (the door over
the mail store, as `./run serve` runs it) and Radicale with its own multifilesystem storage.
Each start gets a log file of its own in the results folder; stop() ends the process (SIGTERM,
then SIGKILL) and is safe to call more than once."""
import os
import signal
import socket
import subprocess
import sys
import time
from typing import Dict, List, Optional, Tuple

import stores

PYTHON = "/usr/bin/python3"  # Debian's, which has Radicale and passlib

# Radicale's rights for a calendar below the user's principal, as it is usually deployed.
_RADICALE_CONFIG = """\
[server]
hosts = 127.0.0.1:{port}

[auth]
type = htpasswd
htpasswd_filename = {users}
htpasswd_encryption = bcrypt

[rights]
type = owner_only

[storage]
type = multifilesystem
filesystem_folder = {folder}

[web]
type = none

[logging]
level = warning
"""


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ServerError(RuntimeError):
    pass


class Server:
    def __init__(self, name: str, command: List[str], environment: Dict[str, str], port: int,
                 log_path: str) -> None:
        self.name, self.port, self.log_path = name, port, log_path
        self._log = open(log_path, "ab")
        self._log.write(("# %s\n# %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S"),
                                           " ".join(command))).encode())
        self._log.flush()
        self.process: Optional[subprocess.Popen] = subprocess.Popen(
            command, env=environment, stdin=subprocess.DEVNULL, stdout=self._log,
            stderr=subprocess.STDOUT, start_new_session=True)

    @property
    def pid(self) -> int:
        return self.process.pid

    def wait_listening(self, seconds: float) -> None:
        """Until the port takes connections; ServerError when the process ends first."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise ServerError("%s ended at its start (status %d), see %s" % (
                    self.name, self.process.returncode, self.log_path))
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return
            except OSError:
                time.sleep(0.05)
        raise ServerError("%s did not listen within %.0f s, see %s" % (self.name, seconds,
                                                                       self.log_path))

    def memory_kib(self) -> Tuple[Optional[int], Optional[int]]:
        """VmHWM and VmRSS of the process, KiB."""
        found = {}
        try:
            with open("/proc/%d/status" % self.pid, encoding="ascii") as f:
                for line in f:
                    key, _, value = line.partition(":")
                    if key in ("VmHWM", "VmRSS"):
                        found[key] = int(value.split()[0])
        except (OSError, ValueError):
            pass
        return found.get("VmHWM"), found.get("VmRSS")

    def stop(self) -> None:
        if self.process is None:
            return
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
            except ProcessLookupError:
                pass
        self.process = None
        self._log.close()


def _environment(repo: str, library: str) -> Dict[str, str]:
    environment = dict(os.environ, TZ="UTC", PYTHONPATH=os.path.join(repo, "python"),
                       CVAICP_LIBRARY=library, PYTHONDONTWRITEBYTECODE="1")
    return environment


def _listening(server: Server, start_seconds: float) -> Server:
    """The server once it accepts connections; stopped if it does not within the time."""
    try:
        server.wait_listening(start_seconds)
    except BaseException:
        server.stop()
        raise
    return server


def start_ours(repo: str, library: str, layout: stores.Layout, log_path: str,
               start_seconds: float) -> Server:
    port = free_port()
    command = [PYTHON, "-m", "radicale_cvaicp.serve", "--store", layout.mail_root,
               "--users", layout.users, "--host", "127.0.0.1", "--port", str(port),
               "--state", layout.state]
    return _listening(Server("ours", command, _environment(repo, library), port, log_path),
                      start_seconds)


def start_radicale(layout: stores.Layout, log_path: str, start_seconds: float) -> Server:
    port = free_port()
    config = os.path.join(layout.folder, "radicale.conf")
    with open(config, "w", encoding="utf-8") as f:
        f.write(_RADICALE_CONFIG.format(port=port, users=layout.users, folder=layout.radicale))
    environment = dict(os.environ, TZ="UTC", PYTHONDONTWRITEBYTECODE="1")
    environment.pop("PYTHONPATH", None)
    return _listening(Server("radicale", [PYTHON, "-m", "radicale", "--config", config],
                             environment, port, log_path), start_seconds)


if __name__ == "__main__":
    sys.exit("servers.py is a part of dav_bench.py")
