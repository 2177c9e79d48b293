"""Radicale's own walks through an item's recurrences under the bound on processor time.

Radicale walks an object's recurrences before it stores it (the range it keeps of each item) and
for every time-range filter of a REPORT, each time with dateutil, which searches to the year 9999
for the next instance of a rule that never matches. Both walks are one function; here it is held
to the storage's bound, and going past the bound is a refusal (403 with its message): of the PUT,
before it takes the storage's lock, or of the REPORT, whose range the rule cannot reach in time."""
from typing import Optional

from radicale.item import filter as radicale_filter

from .refusals import Refused
from .work_bound import ExpansionTooLong, processor_seconds

EXPANSION_SECONDS = 1.0  # of processor time, by default
_original = radicale_filter.visit_time_ranges
_seconds: Optional[float] = None


def _bounded(vobject_item, child_name, range_fn, infinity_fn) -> None:
    try:
        with processor_seconds(_seconds):
            _original(vobject_item, child_name, range_fn, infinity_fn)
    except ExpansionTooLong as e:
        uids = {c.uid.value for c in vobject_item.components() if "uid" in c.contents}
        raise Refused("object %s: %s" % (", ".join(map(repr, sorted(uids))), e)) from None


def install(seconds: Optional[float]) -> None:
    global _seconds
    _seconds = seconds
    radicale_filter.visit_time_ranges = _bounded
