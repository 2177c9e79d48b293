"""The mail root, read from the .reg file that the library reads ($CVAICP_REGISTRY), and paths
below it looked up as the library looks them up natively: without regard to letter case."""
import os
import re
from typing import Optional

_STORE_KEY = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]"
_VALUE = re.compile(r'^"((?:[^"\\]|\\.)*)"\s*=\s*"((?:[^"\\]|\\.)*)"\s*$')


def _reg_text(data: bytes) -> str:
    """A .reg file's text: UTF-16LE with a byte-order mark as regedit writes it, else UTF-8."""
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", errors="replace")
    return data.decode("utf-8-sig", errors="replace")


def store_values(registry: Optional[str] = None) -> Optional[dict]:
    """The text values of the store's key (lower-case names), None when there is no file."""
    path = registry if registry is not None else os.environ.get("CVAICP_REGISTRY")
    if not path:
        return None
    try:
        with open(path, "rb") as f:
            lines = _reg_text(f.read()).splitlines()
    except OSError:
        return None
    values, in_key = {}, False
    for line in lines:
        line = line.strip()
        if line.startswith("["):
            in_key = line.lower() == _STORE_KEY.lower()
        elif in_key:
            found = _VALUE.match(line)
            if found:
                name = re.sub(r"\\(.)", r"\1", found.group(1)).lower()
                values[name] = re.sub(r"\\(.)", r"\1", found.group(2))
    return values


def native_path(store_path: str) -> str:
    """A path as the library composes it (backslashes, perhaps on drive Z:, which Wine maps to
    /) as this system names it, as the library's own file layer maps it."""
    if store_path[:2] in ("Z:", "z:"):
        store_path = store_path[2:]
    return store_path.replace("\\", "/")


def mail_root(registry: Optional[str] = None) -> Optional[str]:
    """The folder that holds the postoffices, by the library's rule: "Mail Root", else "Data
    Directory" followed by \\Postoffices; in this system's form. None when neither is set."""
    values = store_values(registry)
    if values is None:
        return None
    if "mail root" in values:
        root = values["mail root"]
    elif "data directory" in values:
        root = values["data directory"] + "\\Postoffices"
    else:
        return None
    native = native_path(root)
    # The library joins the root and the names with a separator of its own; the system takes
    # a doubled one as one.
    return native.rstrip("/") or "/"


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
