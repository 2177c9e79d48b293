#!/usr/bin/python3
"""The CalDAV door against Radicale's own storage: `./run bench --dav`.

usage: dav_bench.py [--sizes 1000,50000] [--fresh] [--timeout 600] [--repeat 5]

For each size N it starts two CalDAV servers over HTTP on free loopback ports, holding the same N
events for the same user (anna@example, bcrypt htpasswd): ours, the door over the mail store as
`./run serve` runs it (the calendar /example/anna/calendar/), and Radicale with its
multifilesystem storage, one .ics per event, and its owner_only rights (the calendar below the
user's principal, /anna@example/calendar/; the events have the same names on both). Each
row (rows.py) sends the same request to both, once to warm up and then --repeat times, and the
medians of whole requests as the client sees them (connection to last byte) are compared; the
first request after a start and the servers' memory (VmHWM, VmRSS after the rows) are measured
too. report.py holds the targets. The run exits 0 whether the targets hold or not, 1 when a
request failed; a request that has no answer within --timeout is shown as a timeout.

The stores (stores.py) are written directly and kept in build/bench-dav/<N>/ for later runs;
--fresh makes them again. Radicale builds a cache of its items on its first read of a store,
which at 50,000 events takes minutes: that cold first read is measured once, when the store is
made (with COLD_PATIENCE times the patience), and kept in build/bench/results/dav/ for later
runs. Results: build/bench/results/dav_bench.json; the servers' logs (one per start):
build/bench/results/dav/logs/.

The servers and this script run in UTC, so that the period files written here name the days the
door reads them by."""
import argparse
import json
import os
import signal
import statistics
import sys
import time
from typing import Dict, List, Optional

_HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(_HERE))
sys.path[:0] = [os.path.join(REPO, "python")]

import events  # noqa: E402 (after the path to the binding)
import report  # noqa: E402
import rows  # noqa: E402
import servers  # noqa: E402
import stores  # noqa: E402
from client import Client, RequestFailed, RequestTimeout  # noqa: E402

SIDES = ("ours", "radicale")
START_SECONDS = 120  # for a server to listen
COLD_PATIENCE = 4  # the first read of a new store may take this many times --timeout


class BenchError(RuntimeError):
    pass


def _arguments(argv: Optional[List[str]]) -> argparse.Namespace:
    p = argparse.ArgumentParser(prog="run bench --dav", description=__doc__.split("\n")[0])
    p.add_argument("--sizes", default="1000,50000", help="events in the calendar, e.g. 200,1000")
    p.add_argument("--fresh", action="store_true", help="make the stores again")
    p.add_argument("--timeout", type=float, default=600, help="seconds a request may take")
    p.add_argument("--repeat", type=int, default=5, help="timed requests per row (median)")
    p.add_argument("--stores", default=os.path.join(REPO, "build", "bench-dav"))
    p.add_argument("--results", default=os.path.join(REPO, "build", "bench", "results"))
    p.add_argument("--library", default=os.path.join(REPO, "build", "native", "lib",
                                                     "libcvaicp.so"))
    p.add_argument("--cvcal", default=os.path.join(REPO, "build", "native", "bin", "cvcal"))
    args = p.parse_args(argv)
    try:
        args.sizes = [int(s) for s in args.sizes.split(",") if s.strip()]
    except ValueError:
        p.error("--sizes: numbers separated by commas")
    if not args.sizes or any(not 100 <= s <= 200000 for s in args.sizes):
        p.error("--sizes: each from 100 to 200000")
    if args.repeat < 1 or args.timeout <= 0:
        p.error("--repeat and --timeout must be positive")
    for path in (args.library, args.cvcal):
        if not os.path.exists(path):
            p.error("no %s: build the native library and cvcal first" % path)
    return args


class Bench:
    """One size's servers, started and restarted with a log file per start."""

    def __init__(self, args: argparse.Namespace, layout: stores.Layout, password: str) -> None:
        self.args, self.layout, self.password = args, layout, password
        self.logs = os.path.join(args.results, "dav", "logs")
        os.makedirs(self.logs, exist_ok=True)
        for name in os.listdir(self.logs):  # the last run's logs of this size
            if name.startswith("%d-" % layout.size):
                os.remove(os.path.join(self.logs, name))
        self.servers: Dict[str, servers.Server] = {}
        self._starts = 0

    def start(self, side: str) -> None:
        self._starts += 1
        log = os.path.join(self.logs, "%d-%s-%d.log" % (self.layout.size, side, self._starts))
        if side == "ours":
            server = servers.start_ours(REPO, self.args.library, self.layout, log, START_SECONDS)
        else:
            server = servers.start_radicale(self.layout, log, START_SECONDS)
        self.servers[side] = server

    def restart(self, side: str) -> None:
        self.servers.pop(side).stop()
        self.start(side)

    def client(self, side: str, timeout: Optional[float] = None) -> Client:
        return Client(self.servers[side].port, stores.CALENDAR_PATH[side], stores.USER,
                      self.password, timeout or self.args.timeout)

    def stop(self) -> None:
        for server in self.servers.values():
            server.stop()
        self.servers.clear()


def _outcome(times: List[float], counts: List[int], status: str, message: str = "") -> Dict:
    return {"status": status, "median": statistics.median(times) if times and status == "ok"
            else None, "times": [round(t, 6) for t in times], "counts": counts,
            "message": message}


def _run_row(bench: Bench, row: rows.Row, side: str, cal: rows.Calendar) -> Dict:
    m = rows.Measure()
    status, message = "ok", ""
    try:
        extra = (side,) if row.by_side else ()
        row.measure(bench.client(side), cal, m, bench.args.repeat, *extra)
    except RequestTimeout as e:
        status, message = "timeout", str(e)
    except RequestFailed as e:
        status, message = "failed", str(e)
    if status != "ok":
        # A server still at work on the request, or gone: the next row gets a fresh one.
        bench.restart(side)
    return _outcome(m.times, m.counts, status, message)


def _first_request(bench: Bench, side: str, timeout: Optional[float] = None) -> Dict:
    try:
        answer, count = rows.first_request(bench.client(side, timeout))
    except RequestTimeout as e:
        bench.restart(side)
        return _outcome([], [], "timeout", str(e))
    except RequestFailed as e:
        bench.restart(side)
        return _outcome([], [], "failed", str(e))
    return _outcome([answer.seconds], [count], "ok")


def _cold_file(args: argparse.Namespace, size: int) -> str:
    return os.path.join(args.results, "dav", "cold-first-read-%d.json" % size)


def _cold_figure(args: argparse.Namespace, size: int, manifest: Dict) -> Dict:
    """The first reads measured when this store was made, if they are kept."""
    try:
        with open(_cold_file(args, size), encoding="utf-8") as f:
            kept = json.load(f)
    except (OSError, ValueError):
        return {}
    return kept if kept.get("build_id") == manifest["build_id"] else {}


def _measure_cold(bench: Bench, args: argparse.Namespace, manifest: Dict) -> Dict:
    """Both servers' first read of the store just made: Radicale's builds its cache. It is
    measured only now, so it may take COLD_PATIENCE times --timeout."""
    figure = {"build_id": manifest["build_id"], "built": manifest["built"]}
    for side in SIDES:
        print("   first read of the new store: %s ..." % side, flush=True)
        outcome = _first_request(bench, side, args.timeout * COLD_PATIENCE)
        figure[side] = outcome["median"]
        figure[side + "_status"] = outcome["status"]
        print("   %s: %s" % (side, report.seconds_text(outcome["median"])
                             if outcome["status"] == "ok" else outcome["message"]), flush=True)
    with open(_cold_file(args, bench.layout.size), "w", encoding="utf-8") as f:
        json.dump(figure, f, indent=1)
    return figure


def _notes(result: Dict, cal: rows.Calendar) -> List[str]:
    """What looks wrong in the answers: events missing, the two servers disagreeing, failures."""
    notes = []
    for row in rows.ROWS:
        measured = result["rows"][row.key]
        for side in SIDES:
            outcome = measured[side]
            if outcome["status"] != "ok":
                notes.append("%s, %s: %s" % (row.title, side, outcome["message"]))
            elif row.expected is not None and any(c != row.expected(cal)
                                                  for c in outcome["counts"]):
                notes.append("%s, %s: answers held %s events, expected %d" % (
                    row.title, side, sorted(set(outcome["counts"])), row.expected(cal)))
        a, b = measured["ours"]["counts"], measured["radicale"]["counts"]
        if a and b and set(a) != set(b):
            notes.append("%s: ours answered %s events, Radicale %s" % (
                row.title, sorted(set(a)), sorted(set(b))))
    return notes


def run_size(args: argparse.Namespace, size: int) -> Dict:
    layout = stores.Layout(args.stores, size)
    found = events.events(size)
    manifest = None if args.fresh else layout.read_manifest()
    made = manifest is None
    if made:
        why = ""
        if not args.fresh and os.path.exists(layout.in_use):
            why = " (the last run on them did not put them back)"
        print("\n== making the stores of %s events in %s%s" % (format(size, ","),
                                                             layout.folder, why), flush=True)
        problems = stores.check_against_import(found, args.cvcal, dict(os.environ, TZ="UTC"))
        if problems:
            raise BenchError("the stores written here differ from cvcal import's: " +
                             "; ".join(problems[:10]))
        manifest = stores.build(layout, found)
        print("   written in %.1f s; checked against cvcal import (%d events)" % (
            manifest["write_seconds"], len(stores.sample(found))), flush=True)
    else:
        print("\n== the stores of %s events (made %s) in %s" % (
            format(size, ","), manifest["built"], layout.folder), flush=True)
    cal = rows.Calendar(found)
    bench = Bench(args, layout, manifest["password"])
    result: Dict = {"events": size, "store": manifest, "rows": {}}
    try:
        for side in SIDES:
            bench.start(side)
        if made:
            cold = _measure_cold(bench, args, manifest)
            stores.write_manifest(layout, manifest)
        else:
            cold = _cold_figure(args, size, manifest)
        result["cold_first_read"] = cold
        stores.mark_in_use(layout)
        for row in rows.ROWS:
            measured = result["rows"][row.key] = {}
            for side in SIDES:
                measured[side] = _run_row(bench, row, side, cal)
            print("   %-36s ours %-10s Radicale %s" % (
                row.title, _brief(measured["ours"]), _brief(measured["radicale"])), flush=True)
        result["memory"] = {}
        for side in SIDES:
            hwm, rss = bench.servers[side].memory_kib()
            result["memory"][side] = {"hwm_kib": hwm, "rss_kib": rss}
        first: Dict[str, Dict] = {}
        for side in SIDES:
            outcomes = []
            for _ in range(args.repeat):
                bench.restart(side)
                outcomes.append(_first_request(bench, side))
            ok = [o for o in outcomes if o["status"] == "ok"]
            bad = [o for o in outcomes if o["status"] != "ok"]
            first[side] = _outcome([o["median"] for o in ok], [o["counts"][0] for o in ok],
                                   bad[0]["status"] if bad else "ok",
                                   bad[0]["message"] if bad else "")
        result["first_after_start"] = first
        print("   %-36s ours %-10s Radicale %s" % ("first request after a start",
                                                   _brief(first["ours"]),
                                                   _brief(first["radicale"])), flush=True)
    finally:
        bench.stop()
    # A row that failed or timed out may have left its events, or a request cut off halfway.
    if all(o["status"] == "ok" for measured in result["rows"].values()
           for o in measured.values()):
        stores.mark_unchanged(layout)
    result["notes"] = _notes(result, cal)
    return result


def _brief(outcome: Dict) -> str:
    if outcome["status"] == "ok":
        return report.seconds_text(outcome["median"])
    return outcome["status"]


def _stop_on_signal(number, frame) -> None:
    raise SystemExit("stopped by signal %d" % number)


def main(argv: Optional[List[str]] = None) -> int:
    args = _arguments(argv)
    os.environ["TZ"] = "UTC"
    time.tzset()
    signal.signal(signal.SIGTERM, _stop_on_signal)
    signal.signal(signal.SIGHUP, _stop_on_signal)
    os.makedirs(os.path.join(args.results, "dav"), exist_ok=True)
    from radicale import VERSION as radicale_version
    results: Dict[int, Dict] = {}
    began = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    try:
        for size in args.sizes:
            results[size] = run_size(args, size)
    except (BenchError, servers.ServerError) as e:
        print("run bench --dav: %s" % e, file=sys.stderr)
        return 1
    judged = {size: report.judge(r) for size, r in results.items()}
    for size in args.sizes:
        report.print_size(size, judged[size], results[size]["notes"])
    grown = report.growth(results)
    report.print_growth(grown)
    failed = any(o["status"] == "failed"
                 for r in results.values()
                 for measured in list(r["rows"].values()) + [r["first_after_start"]]
                 for o in measured.values())
    path = os.path.join(args.results, "dav_bench.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"began": began, "radicale": radicale_version, "repeat": args.repeat,
                   "timeout": args.timeout, "sizes": {str(s): dict(results[s], table=judged[s])
                                                      for s in args.sizes},
                   "growth": grown}, f, indent=1)
    print("\nresults: %s, logs: %s" % (path, os.path.join(args.results, "dav", "logs")))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
