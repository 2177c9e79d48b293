"""The mail root, read from the .reg file that the library reads ($CVAICP_REGISTRY), and paths
below it looked up as the library looks them up natively: without regard to letter case."""
import os
import re
from typing import Optional

_STORE_KEY = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]"
_MAIL_ROOT = re.compile(r'^"Mail Root"\s*=\s*"((?:[^"\\]|\\.)*)"\s*$')


def mail_root(registry: Optional[str] = None) -> Optional[str]:
    """The "Mail Root" text of the store's key, or None when there is none."""
    path = registry if registry is not None else os.environ.get("CVAICP_REGISTRY")
    if not path:
        return None
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except OSError:
        return None
    in_key = False
    for line in lines:
        line = line.strip()
        if line.startswith("["):
            in_key = line.lower() == _STORE_KEY.lower()
        elif in_key:
            found = _MAIL_ROOT.match(line)
            if found:
                return re.sub(r"\\(.)", r"\1", found.group(1))
    return None


def find_no_case(folder: str, *names: str) -> str:
    """folder/names..., each name matched as written or else in any letter case."""
    path = folder
    for name in names:
        exact = os.path.join(path, name)
        if not os.path.exists(exact):
            try:
                for entry in os.listdir(path):
                    if entry.lower() == name.lower():
                        exact = os.path.join(path, entry)
                        break
            except OSError:
                pass
        path = exact
    return path


def write_reg(path: str, root: str, waits: Optional[int] = None) -> None:
    """A .reg file naming the mail root. The waits for the blocking files are the store's
    defaults unless `waits` sets all four (in seconds): short waits take over periods that the
    mail server's hosts still hold, so only tests that mean to cross a wait set them."""
    escaped = root.replace("\\", "\\\\").replace('"', '\\"')
    lines = ["Windows Registry Editor Version 5.00", "", _STORE_KEY,
             '"Mail Root"="%s"' % escaped]
    if waits is not None:
        lines += ["", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane\\Providers]"]
        lines += ['"%s"=dword:%08x' % (name, waits) for name in (
            "Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout", "Apply Timeout")]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\r\n".join(lines) + "\r\n")
