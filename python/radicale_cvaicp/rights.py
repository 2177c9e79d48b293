"""Rights: a user MAILBOX@POSTOFFICE reads and writes its own calendar
(/POSTOFFICE/MAILBOX/calendar/), sees the root, its principal and its calendar home (the mailbox,
/POSTOFFICE/MAILBOX/), and nothing else."""
from radicale import rights

from .paths import calendar_path, split, user_mailbox


class Rights(rights.BaseRights):
    def authorization(self, user: str, path: str) -> str:
        owner = user_mailbox(user) if user else None
        parts = split(path)
        if owner is None or parts is None or "\\" in path or "\0" in path:
            return ""
        sane = "/".join(parts)
        if sane in ("", user, "%s/%s" % owner):
            return "R"
        if sane == calendar_path(*owner):
            return "rw"
        return ""
