#!/usr/bin/python3
"""Packs the Windows release zip from a win32 build folder: the three programs stripped of their
debug sections and symbol table (each one's debug information and symbols beside it, found
through .gnu_debuglink), the registry template, an example cvadmind configuration, the
operator's installation guide and SHA256SUMS over all of them.

The zip is the same bytes for the same inputs: its members come in a fixed order with one fixed
time (the commit's, SOURCE_DATE_EPOCH) and fixed permissions, and objcopy, which would stamp the
stripped images with the time it runs, is given the link's own stamp (zero).

Usage: make_zip.py --build build/win32 --out build/dist --version TEXT --epoch SECONDS
                   [--objcopy PROG] [--objdump PROG]
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PROGRAMS = ["CVAICP.DLL", "cvcal.exe", "cvadmind.exe"]
# Text files, from the tree, shipped with Windows line ends (older Notepads show a file with bare
# line feeds as one line, and regedit expects CR LF).
TEXTS = [
    ("cvaicp.reg", "dist/cvaicp.reg"),
    ("cvadmind.conf", "dist/cvadmind.conf"),
    ("INSTALL-WINDOWS.md", "docs/INSTALL-WINDOWS.md"),
]


def fail(message):
    sys.exit("make_zip: " + message)


def run(command, env=None, cwd=None):
    result = subprocess.run(command, env=env, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        fail(" ".join(command) + " failed:\n" + result.stderr)
    return result.stdout


def export_lines(objdump, image):
    """The export table as objdump shows it: ordinal base, every address and every name."""
    dump = run([objdump, "-p", image])
    start = dump.find("There is an export table")
    if start < 0:
        fail(image + " has no export table")
    end = dump.find("\n\n\n", start)
    lines = dump[start:end if end >= 0 else len(dump)].splitlines()
    # The export directory's own stamp and the table's file offsets say nothing of the exports.
    return [line for line in lines
            if "Ordinal Base" in line or re.match(r"\t\[ *\d+\]", line)]


def section_names(objdump, image):
    return re.findall(r"^\s*\d+\s+(\S+)", run([objdump, "-h", image]), re.M)


def strip_program(objcopy, objdump, built, stage, name):
    """Writes stage/name without debug sections or symbols and stage/name.debug with them,
    linked."""
    debug_name = name + ".debug"
    debug_path = os.path.join(stage, debug_name)
    stripped = os.path.join(stage, name)
    # objcopy stamps a PE image it writes with SOURCE_DATE_EPOCH, else the time of day: the link
    # wrote zero, and so does this.
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    run([objcopy, "--only-keep-debug", built, debug_path], env)
    # --add-gnu-debuglink records the name it is given (and the file's CRC): the name alone, so
    # objcopy runs where the debug file lies.
    # --strip-all leaves the base relocations and the export table, which are sections of an
    # image; the COFF symbols go, a third of an exe, since the debug file keeps them.
    run([objcopy, "--strip-all", "--add-gnu-debuglink=" + debug_name, os.path.abspath(built),
         name], env, cwd=stage)

    sections = section_names(objdump, stripped)
    left = [s for s in sections if s.startswith(".debug")]
    if left:
        fail(name + " still has " + " ".join(left))
    if ".gnu_debuglink" not in sections:
        fail(name + " has no .gnu_debuglink")
    link = run([objdump, "-s", "-j", ".gnu_debuglink", stripped])
    text = "".join(re.findall(r"^ [0-9a-f]+ (?:[0-9a-f]{1,8} ){1,4} +(.*)$", link, re.M))
    if not text.startswith(debug_name + "."):
        fail(name + ": .gnu_debuglink does not name " + debug_name)
    if not any(s.startswith(".debug_info") for s in section_names(objdump, debug_path)):
        fail(debug_name + " holds no debug information")
    if name.upper().endswith(".DLL") and export_lines(objdump, built) != export_lines(
            objdump, stripped):
        fail(name + ": the stripped image's exports differ from the built one's")
    return [name, debug_name]


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--objcopy", default="i686-w64-mingw32-objcopy")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    args = parser.parse_args()

    base = "cvaicp-%s-win32" % args.version
    stage = os.path.join(args.out, base)
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(stage)

    members = []
    for name in PROGRAMS:
        built = os.path.join(args.build, "bin", name)
        if not os.path.isfile(built):
            fail(built + " is missing")
        members += strip_program(args.objcopy, args.objdump, built, stage, name)
    for name, source in TEXTS:
        with open(os.path.join(SOURCE, source), "rb") as f:
            data = crlf(f.read())
        with open(os.path.join(stage, name), "wb") as f:
            f.write(data)
        members.append(name)

    sums = ""
    for name in members:
        with open(os.path.join(stage, name), "rb") as f:
            sums += "%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name)
    with open(os.path.join(stage, "SHA256SUMS"), "w", newline="\n") as f:
        f.write(sums)
    members.append("SHA256SUMS")

    # The zip format counts local time from 1980 in two-second steps; the commit's UTC time it is.
    stamp = time.gmtime(max(args.epoch, 315532800))[:6]
    zip_path = os.path.join(args.out, base + ".zip")
    temporary = zip_path + ".new"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name in members:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the permissions below are what unzip sets
            info.external_attr = (0o100644 << 16)
            with open(os.path.join(stage, name), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(temporary, zip_path)

    with open(zip_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    print(zip_path)
    print("sha256 " + digest)


if __name__ == "__main__":
    main()
