"""A bound on the processor time that one expansion of recurrences may take.

dateutil looks for a rule's next instance in a loop that ends only at an instance or at the year
9999: a rule whose parts never match (FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30) walks there day by
day, seconds of work, and neither UNTIL nor COUNT stops it, since both are checked against an
instance. The loop calls Python functions at every step, so a trace function set for the
expanding thread sees every step and ends the work once it has taken its time. The clock is the
thread's own processor time: a busy machine makes the work slower, not larger, and must not cut
short an expansion that would end."""
import contextlib
import sys
import time
from typing import Iterator, Optional


class ExpansionTooLong(ValueError):
    """Recurrences that did not come to an end within the processor time allowed."""


@contextlib.contextmanager
def processor_seconds(limit: Optional[float]) -> Iterator[None]:
    """The block raises ExpansionTooLong from the first Python call it makes after `limit`
    seconds of this thread's processor time; None: no bound."""
    if limit is None:
        yield
        return
    deadline = time.thread_time() + limit
    calls = [0]

    def check(frame, event, arg):
        # Reading the clock costs more than most calls it would time: it is read at every
        # 256th call, which a step of a rule's search still makes many of.
        calls[0] += 1
        if calls[0] & 0xFF == 0 and time.thread_time() > deadline:
            # Raised here, it leaves through the call being made and ends the tracing.
            raise ExpansionTooLong("the recurrence does not reach its next instance or its end "
                                   "within %g s of processor time" % limit)
        return None  # no tracing inside the call

    previous = sys.gettrace()
    sys.settrace(check)
    try:
        yield
    finally:
        sys.settrace(previous)
