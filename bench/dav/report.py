"""The targets the door is held to against Radicale, and the table of one run: each row's median
on both servers, the ratio ours/Radicale and its verdict. The targets hold at 50,000 events; at
other sizes the verdict is shown in parentheses, for information."""
from typing import Dict, List, Optional

import rows

TARGET_SIZE = 50000
# Row: the largest ratio ours/Radicale of the medians.
RATIO_TARGETS = {"get": 0.1, "week": 0.1, "multiget": 0.1, "sync_change": 0.1, "delete": 0.1,
                 "put": 0.2, "put_weekly": 0.5, "propfind": 1.0, "sync_initial": 1.0}
# Ours' first request after a start against Radicale's first read of the store (no cache).
FIRST_AFTER_START_RATIO = 0.05
SERIES_PUT_SECONDS = 2.0  # ours, absolute
# Ours from the smallest size to the largest (1,000 to 50,000): how much slower it may get.
GROWTH_ROWS = ["get", "week", "sync_change", "put", "delete"]
GROWTH_LIMIT = 2.0


def seconds_text(value: Optional[float]) -> str:
    if value is None:
        return "-"
    if value < 1:
        return "%.2f ms" % (value * 1000) if value < 0.01 else "%.1f ms" % (value * 1000)
    return "%.2f s" % value


def _side_text(outcome: Optional[Dict]) -> str:
    if outcome is None:
        return "-"
    if outcome["status"] == "ok":
        return seconds_text(outcome["median"])
    return {"timeout": "timeout", "failed": "FAILED"}.get(outcome["status"], outcome["status"])


def verdict(passed: Optional[bool], size: int) -> str:
    if passed is None:
        return ""
    text = "pass" if passed else "FAIL"
    return text if size == TARGET_SIZE else "(%s)" % text.lower()


def _median(outcome: Optional[Dict]) -> Optional[float]:
    return outcome["median"] if outcome and outcome["status"] == "ok" else None


def _ratio(a: Optional[float], b: Optional[float]) -> Optional[float]:
    return a / b if a is not None and b else None


def judge(size_result: Dict) -> List[Dict]:
    """The lines of one size's table: title, both sides, ratio, target and whether it holds."""
    lines = []
    measured = size_result["rows"]
    for row in rows.ROWS:
        ours, radicale = measured[row.key].get("ours"), measured[row.key].get("radicale")
        ratio = _ratio(_median(ours), _median(radicale))
        target, passed = "", None
        if row.key in RATIO_TARGETS:
            limit = RATIO_TARGETS[row.key]
            target = "<= %g" % limit
            passed = ratio <= limit if ratio is not None else False
        elif row.key == "series_put":
            target = "ours <= %g s" % SERIES_PUT_SECONDS
            passed = _median(ours) is not None and _median(ours) <= SERIES_PUT_SECONDS
        lines.append({"key": row.key, "title": row.title, "ours": _side_text(ours),
                      "radicale": _side_text(radicale), "ratio": ratio, "target": target,
                      "passed": passed})
    first = size_result.get("first_after_start", {})
    ours, radicale = first.get("ours"), first.get("radicale")
    lines.append({"key": "first_after_start", "title": "first request after a start",
                  "ours": _side_text(ours), "radicale": _side_text(radicale),
                  "ratio": _ratio(_median(ours), _median(radicale)), "target": "",
                  "passed": None})
    cold = size_result.get("cold_first_read", {}).get("radicale")
    ratio = _ratio(_median(ours), cold)
    lines.append({"key": "first_after_start_vs_cold",
                  "title": "  against Radicale's cold first read",
                  "ours": _side_text(ours), "radicale": seconds_text(cold) if cold else "unknown",
                  "ratio": ratio, "target": "<= %g" % FIRST_AFTER_START_RATIO,
                  "passed": ratio is not None and ratio <= FIRST_AFTER_START_RATIO})
    memory = size_result.get("memory", {})
    for key, title in (("hwm_kib", "resident peak (VmHWM)"), ("rss_kib", "resident (VmRSS)")):
        a, b = memory.get("ours", {}).get(key), memory.get("radicale", {}).get(key)
        ratio = _ratio(a, b)
        held = key == "hwm_kib"
        lines.append({"key": "memory_" + key, "title": title,
                      "ours": "%.1f MiB" % (a / 1024) if a else "-",
                      "radicale": "%.1f MiB" % (b / 1024) if b else "-", "ratio": ratio,
                      "target": "<= 1" if held else "",
                      "passed": (ratio is not None and ratio <= 1.0) if held else None})
    return lines


def growth(results: Dict[int, Dict]) -> List[Dict]:
    """Ours' medians at the smallest and the largest size, for the rows held to a growth."""
    sizes = sorted(results)
    if len(sizes) < 2:
        return []
    small, large = sizes[0], sizes[-1]
    lines = []
    for key in GROWTH_ROWS:
        a = _median(results[small]["rows"][key].get("ours"))
        b = _median(results[large]["rows"][key].get("ours"))
        ratio = _ratio(b, a)
        lines.append({"key": key, "small": small, "large": large, "ours_small": a,
                      "ours_large": b, "growth": ratio, "target": "<= %gx" % GROWTH_LIMIT,
                      "passed": ratio is not None and ratio <= GROWTH_LIMIT})
    return lines


def print_size(size: int, lines: List[Dict], notes: List[str]) -> None:
    print("\n== CalDAV, %s events: medians, ours/Radicale (targets at %s)" % (
        format(size, ","), format(TARGET_SIZE, ",")))
    print("%-36s %11s %11s %9s  %-13s %s" % ("", "ours", "Radicale", "ratio", "target", ""))
    for line in lines:
        ratio = "%.3f" % line["ratio"] if line["ratio"] is not None else "-"
        print("%-36s %11s %11s %9s  %-13s %s" % (line["title"], line["ours"], line["radicale"],
                                                 ratio, line["target"],
                                                 verdict(line["passed"], size)))
    for note in notes:
        print("   note: " + note)


def print_growth(lines: List[Dict]) -> None:
    if not lines:
        return
    print("\n== ours from %s to %s events (held at 1,000 to 50,000)" % (
        format(lines[0]["small"], ","), format(lines[0]["large"], ",")))
    titles = {r.key: r.title for r in rows.ROWS}
    for line in lines:
        ratio = "%.2fx" % line["growth"] if line["growth"] is not None else "-"
        held = line["small"] == 1000 and line["large"] == TARGET_SIZE
        passed = "pass" if line["passed"] else "FAIL"
        print("%-36s %11s %11s %9s  %-13s %s" % (
            titles[line["key"]], seconds_text(line["ours_small"]),
            seconds_text(line["ours_large"]), ratio, line["target"],
            passed if held else "(%s)" % passed.lower()))
