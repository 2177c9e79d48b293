"""The CalDAV server over a mail root: Radicale with this package's storage and rights, users
from an htpasswd file (bcrypt).

usage: python3 -m radicale_cvaicp.serve (--registry FILE | --store MAILROOT) --users HTPASSWD
       [--host 127.0.0.1] [--port 5232] [--horizon-days 365] [--back-days 365] [--state DIR]
       [--log-level warning] [--max-body-bytes 10000000] [--max-occurrences 2000]
       [--expansion-seconds 1]

The store's configuration is the .reg file that the mail server's hosts use (--registry): its
mail root and its waits for periods that a host holds. With --store instead it writes a .reg file
naming that mail root, with the store's default waits, into the state folder. It writes a
Radicale configuration there too, then serves in the foreground; it prints "serving
http://HOST:PORT/" once it accepts connections. Requests pass the door (door.py) on their way to
Radicale."""
import argparse
import os
import signal
import socket
import sys
import threading

from cvaicp.icalendar import Window
from cvaicp.registry import mail_root, write_reg

from . import door
from .time_ranges import EXPANSION_SECONDS

_REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

_CONFIG = """\
[server]
hosts = {host}:{port}

[auth]
type = radicale_cvaicp.auth
htpasswd_filename = {users}
htpasswd_encryption = bcrypt

[rights]
type = radicale_cvaicp.rights

[storage]
type = radicale_cvaicp
filesystem_folder = {state}/radicale

[web]
type = none

[logging]
level = {log_level}
"""


def _arguments(argv):
    p = argparse.ArgumentParser(prog="radicale_cvaicp.serve", description=__doc__.split("\n")[0])
    where = p.add_mutually_exclusive_group(required=True)
    where.add_argument("--registry", help="the store's .reg file (its mail root and waits)")
    where.add_argument("--store", help="the mail root, with the store's default waits")
    p.add_argument("--users", required=True, help="htpasswd file (bcrypt)")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=5232)
    p.add_argument("--horizon-days", type=int, default=Window().horizon_days,
                   help="how far ahead recurring events become appointments")
    p.add_argument("--back-days", type=int, default=Window().back_days,
                   help="how far back the occurrences of recurring events are kept")
    p.add_argument("--state", default=os.path.join(_REPO, "build", "serve"),
                   help="folder for the .reg file, the configuration, sync tokens, metadata")
    p.add_argument("--log-level", default="warning")
    p.add_argument("--max-body-bytes", type=int, default=door.MAX_BODY_BYTES,
                   help="longest request body taken; a longer one is answered 413")
    p.add_argument("--max-occurrences", type=int, default=Window().max_occurrences,
                   help="occurrences of one object that become appointments")
    p.add_argument("--expansion-seconds", type=float, default=EXPANSION_SECONDS,
                   help="processor time one expansion of an object's recurrences may take; "
                        "an object whose rules take longer is refused (403)")
    args = p.parse_args(argv)
    if args.store is not None and not os.path.isdir(args.store):
        p.error("--store: no folder %s" % args.store)
    if args.registry is not None:
        if mail_root(args.registry) is None:
            p.error("--registry: %s names no mail root" % args.registry)
    if not os.path.isfile(args.users):
        p.error("--users: no file %s" % args.users)
    for name in ("horizon_days", "back_days"):
        if not 0 <= getattr(args, name) <= 36500:
            p.error("--%s: expects 0 to 36500" % name.replace("_", "-"))
    if args.max_body_bytes < 1:
        p.error("--max-body-bytes: expects at least 1")
    if not 0 < args.max_occurrences <= 100000:
        p.error("--max-occurrences: expects 1 to 100000")
    if not 0 < args.expansion_seconds <= 3600:
        p.error("--expansion-seconds: expects more than 0, at most 3600")
    return args


def _port_in_use(host: str, port: int) -> bool:
    """Whether something else listens there already (it would answer our announcement)."""
    try:
        with socket.create_connection((host, port), timeout=1):
            return True
    except OSError:
        return False


def _announce_when_listening(host: str, port: int, stop: threading.Event) -> None:
    while not stop.is_set():
        try:
            with socket.create_connection((host, port), timeout=1):
                print("serving http://%s:%d/" % (host, port), flush=True)
                return
        except OSError:
            stop.wait(0.05)


def main(argv=None) -> int:
    args = _arguments(argv)
    if _port_in_use(args.host, args.port):
        print("radicale_cvaicp.serve: %s:%d is in use" % (args.host, args.port), file=sys.stderr)
        return 1
    state = os.path.abspath(args.state)
    os.makedirs(state, exist_ok=True)
    if args.registry is not None:
        registry = os.path.abspath(args.registry)
    else:
        registry = os.path.join(state, "cvaicp.reg")
        write_reg(registry, os.path.abspath(args.store))
    # The library reads its configuration when it loads, which the storage does: set it first.
    os.environ["CVAICP_REGISTRY"] = registry
    os.environ["CVAICP_HORIZON_DAYS"] = str(args.horizon_days)
    os.environ["CVAICP_BACK_DAYS"] = str(args.back_days)
    os.environ["CVAICP_MAX_OCCURRENCES"] = str(args.max_occurrences)
    os.environ["CVAICP_EXPANSION_SECONDS"] = repr(args.expansion_seconds)
    config_path = os.path.join(state, "radicale.conf")
    with open(config_path, "w", encoding="utf-8") as f:
        f.write(_CONFIG.format(host=args.host, port=args.port, users=os.path.abspath(args.users),
                               state=state, log_level=args.log_level))

    from radicale import config, log, server
    log.setup()
    configuration = config.load([(config_path, False)])
    log.set_level(configuration.get("logging", "level"))
    # Radicale's server makes its application by this name: it gets the door in front.
    server.Application = lambda c: door.serving(c, args.max_body_bytes)
    shutdown, shutdown_out = socket.socketpair()
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, lambda *_: shutdown.close())
    stop = threading.Event()
    threading.Thread(target=_announce_when_listening, args=(args.host, args.port, stop),
                     daemon=True).start()
    try:
        server.serve(configuration, shutdown_out)
    except Exception as e:  # Radicale reports start-up failures as plain exceptions
        print("radicale_cvaicp.serve: %s" % e, file=sys.stderr)
        return 1
    finally:
        stop.set()
    return 0


if __name__ == "__main__":
    sys.exit(main())
