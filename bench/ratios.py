#!/usr/bin/python3
"""The ratios the benchmarks are held to, as a short table, from their JSON output.

usage: ratios.py RESULT.json...

Each paired benchmark (an operation timed beside its baseline) reports its own "ratio" counter,
the median operation over the median baseline. Some also report their tail from the same run (the
99th percentile of each side, or the longest call against the median one), held to limits of their
own. The whole listing of a day is reported in total and per item, without a target. The memory
benchmarks report figures (growth, KiB per connection) that are held to limits of their own.
Missing benchmarks are left out, so a Windows run (./run bench --win32, which has only the
appointment, walk and contention benchmarks) shows just its own rows; a benchmark that failed is
listed with its error.
"""
import json
import sys

# Paired benchmarks: name as Google Benchmark reports it (without its /manual_time or similar
# suffix) -> (what it compares, the limit of its ratio).
PAIRED = [
    (f"BM_Appointment{operation}{storage}/{lines}",
     f"Appointment{operation}, {lines:,} lines{where} / its file work", 1.3)
    for storage, where in (("", ""), ("InMemory", " in memory"))
    for operation in ("Add", "Get", "Remove")
    for lines in (10, 100, 1000)
] + [
    ("BM_ContendedWriters", "4 hosts adding 100 / 1 host adding 400", 3.0),
    ("BM_RemoteGet", "remote AppointmentGet / 2 TCP exchanges", 3.0),
    # FindNext must not cost more the further it is into a listing; a step that counted from the
    # first item would make the last 100 of 1,000 cost about 19 times the first 100.
    ("BM_ListFindNextByPosition", "FindNext, last 100 / first 100 of 1,000", 1.5),
    ("BM_ListFindNextByPositionSorted", "FindNext, last 100 / first 100 of 1,000 (sorted)", 1.5),
    # A mailbox with 20 years of history: 50,000 appointments, some 57,000 files in its folder.
    ("BM_HistoryReindex", "full reindex scan / reading the headers, per item", 2.0),
    ("BM_HistoryReindexCommand", "cvcal reindex / header reader process, per item", 2.0),
    ("BM_HistoryListFindNextByPosition", "FindNext, last 500 / first 500 of a day of 5,000", 1.2),
    ("BM_HistoryFreeBusyMonth", "free/busy of a month / listing its period files", 2.0),
    ("BM_HistoryFreeBusyYear", "free/busy of a year / listing its period files", 2.0),
]
# Figures held to a limit of their own: name, counter, what it is, the limit, and whether the
# figure must stay below the limit (True) or may reach it (False).
FIGURES = [
    # A host thread that calls every export and ends leaves nothing behind: growth from after the
    # first 100 such threads to after the 10,000th.
    ("BM_HostThreadsLeaveNothing", "resident_growth_kib",
     "resident growth over 10,000 host threads, KiB", 1024, True),
    ("BM_HostThreadsLeaveNothing", "descriptor_growth",
     "open descriptors' growth over 10,000 host threads", 0, False),
    ("BM_ServiceIdleConnections", "kib_per_connection",
     "cvadmind, KiB resident per idle connection (64 open)", 64, True),
]
# The tails, taken in the same runs as the paired medians above: name, counter, what it compares,
# the limit, and the counters of its two sides in microseconds (none when it has no two sides).
TAILS = [
    ("BM_RemoteGet", "p99_ratio", "remote AppointmentGet / 2 TCP exchanges, p99", 3.0,
     ("p99_us", "baseline_p99_us")),
    # Four writers of one period: a writer's longest AppointmentAdd against its median one, for
    # the writer that fares worst (median over the runs). Long turns of one writer make the others
    # wait for many of its changes at a time.
    ("BM_ContendedWriters", "max_wait_over_median", "4 hosts: longest add / median add", 10.0,
     None),
]
# Figures reported without a limit: name, counter, what it is.
SHOWN = [
    # Few changes mean that one host kept the period file for long runs while the others waited.
    ("BM_ContendedWriters", "writer_changes", "4 hosts: changes of host along the 400 lines"),
]
# Paired benchmarks whose both sides cover this many items.
PER_ITEM = {"BM_HistoryReindex": 50000, "BM_HistoryReindexCommand": 50000}
# The names of the baselines' counters (see paired_timing.h), one per benchmark.
BASELINES = ("one_host", "first_100", "first_500", "header_reads", "listing", "baseline")


def base_name(name):
    parts = [p for p in name.split("/")
             if not p.startswith(("manual_time", "real_time", "iterations:"))]
    return "/".join(parts)


# A result file named NAME.one-processor.json holds a run pinned to one processor: its rows are
# shown again, marked so.
PINNED = ".one-processor.json"


def load(paths):
    runs = {}
    for path in paths:
        suffix = PINNED if path.endswith(PINNED) else ""
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError) as e:
            print(f"  (cannot read {path}: {e})")
            continue
        for run in data.get("benchmarks", []):
            if run.get("run_type", "iteration") == "iteration":
                runs[base_name(run["name"]) + suffix] = run
    return runs


def seconds(run, key):
    """A counter in seconds, or a time per item, as a readable text."""
    value = run.get(key)
    if value is None:
        return "?"
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6)):
        if value >= scale:
            return f"{value / scale:.3g} {unit}"
    return f"{value / 1e-9:.3g} ns"


def row(what, ratio, limit, detail):
    verdict = "ok" if ratio <= limit else "ABOVE"
    print(f"  {what:<56} {ratio:6.2f}  <= {limit:<4g} {verdict:<5}  {detail}")


def measured(runs, name, what):
    """The run of that benchmark, or None when it is missing or failed (a failure is listed)."""
    run = runs.get(name)
    if run is not None and run.get("error_occurred"):
        print(f"  {what:<56} failed: {run.get('error_message', '')}")
        return None
    return run


def variants(runs, name, what):
    """The runs of a row: as measured, then pinned to one processor where that was run too."""
    yield name, what
    if name + PINNED in runs:
        yield name + PINNED, what + ", 1 cpu"


def main(paths):
    runs = load(paths)
    print(f"  {'ratio':<56} {'value':>6}  {'target':<7} {'':<5}  operation / baseline (medians)")
    for name, what, limit in [(n, w, lim) for base, label, lim in PAIRED
                              for n, w in variants(runs, base, label)]:
        run = measured(runs, name, what)
        if run is None:
            continue
        baseline_key = next(k for k in BASELINES if k in run)
        # Both sides of a scan cover the same items: shown per item.
        items = PER_ITEM.get(name, 1)
        row(what, run["ratio"], limit,
            f"{seconds({'t': run['median'] / items}, 't')} / "
            f"{seconds({'t': run[baseline_key] / items}, 't')}")
    for name, counter, what, limit, below in FIGURES:
        run = measured(runs, name, what)
        if run is None:
            continue
        value = run.get(counter, float("nan"))
        held = value < limit if below else value <= limit
        sign = "<" if below else "<="
        print(f"  {what:<56} {value:6.4g}  {sign} {limit:<4g} {'ok' if held else 'ABOVE':<5}")
    for name, counter, what, limit, sides in [(n, c, w, lim, sd) for base, c, label, lim, sd in TAILS
                                              for n, w in variants(runs, base, label)]:
        run = runs.get(name)
        if run is None or run.get("error_occurred"):
            continue  # already listed with its error above
        if counter not in run:
            print(f"  {what:<56} {'-':>6}  <= {limit:<4g} {'':<5}  not measured")
            continue
        detail = f"{run[sides[0]]:.4g} us / {run[sides[1]]:.4g} us" if sides else ""
        row(what, run[counter], limit, detail)
    for name, counter, what in [(n, c, w) for base, c, label in SHOWN
                                for n, w in variants(runs, base, label)]:
        run = runs.get(name)
        if run is not None and counter in run:
            print(f"  {what:<56} {run[counter]:6.4g}  {'(no limit)':<13}  {run.get('label', '')}")
    # The walk is held to its cost per line: a walk that read the file from its first line at
    # every step would make the 1,000-line walk cost about 10 times the 100-line one per line.
    short, long = runs.get("BM_WalkPeriodFile/100"), runs.get("BM_WalkPeriodFile/1000")
    if short and long and "time_per_line" in short and "time_per_line" in long:
        row("walk, per line: 1,000 lines / 100 lines",
            long["time_per_line"] / short["time_per_line"], 3.0,
            f"{seconds(long, 'time_per_line')} / {seconds(short, 'time_per_line')}")
    for suffix, label in (("", "unsorted"), ("Sorted", "sorted")):
        run = runs.get(f"BM_ListWholeDay{suffix}/1000")
        if run and not run.get("error_occurred"):
            total = run["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1}[run["time_unit"]]
            print(f"  {'listing a day of 1,000 (' + label + ')':<56} total "
                  f"{seconds({'t': total}, 't')}, per item {seconds(run, 'time_per_item')}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
