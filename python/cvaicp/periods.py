"""Period names as the library's writers and cvcal give them: from the local dates of an
appointment's start and finish."""
import calendar
import re
import time

_NAME = re.compile(r"^Y(?:(-?\d{1,5})(?:M(\d\d)(?:D(\d\d))?)?)?$")


def period_name(start: int, finish: int) -> str:
    """"Y" across years, "Y26" across months ("Y5" for 2005), "Y26M12" across days, else
    "Y26M12D07"."""
    a = time.localtime(start)
    b = time.localtime(finish)
    if a.tm_year != b.tm_year:
        return "Y"
    if a.tm_mon != b.tm_mon:
        return "Y%d" % (a.tm_year - 2000)
    if a.tm_mday != b.tm_mday:
        return "Y%02dM%02d" % (a.tm_year - 2000, a.tm_mon)
    return "Y%02dM%02dD%02d" % (a.tm_year - 2000, a.tm_mon, a.tm_mday)


def is_period_name(name: str) -> bool:
    """Whether a name is one the writers make: "Y", a year, a month of it, a day of that month
    (a month or day that no calendar has names no file any writer makes)."""
    found = _NAME.match(name) if isinstance(name, str) else None
    if found is None:
        return False
    year, month, day = found.groups()
    if month is None:
        return True
    if not 1 <= int(month) <= 12:
        return False
    return day is None or 1 <= int(day) <= calendar.monthrange(2000 + int(year), int(month))[1]
