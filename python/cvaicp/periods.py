"""Period names as cvcal gives them: from the local dates of an appointment's start and finish."""
import time


def period_name(start: int, finish: int) -> str:
    """"Y" across years, "Y26" across months, "Y26M12" across days, else "Y26M12D07"."""
    a = time.localtime(start)
    b = time.localtime(finish)
    if a.tm_year != b.tm_year:
        return "Y"
    if a.tm_mon != b.tm_mon:
        return "Y%d" % (a.tm_year - 2000)
    if a.tm_mday != b.tm_mday:
        return "Y%02dM%02d" % (a.tm_year - 2000, a.tm_mon)
    return "Y%02dM%02dD%02d" % (a.tm_year - 2000, a.tm_mon, a.tm_mday)
