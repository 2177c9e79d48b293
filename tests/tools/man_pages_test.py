"""The man pages made at build time: one for every command that cvcal --help lists, each with
the sections a reader looks for, examples that use only the command's own options, and nothing
groff warns about. Usage: man_pages_test.py CVCAL MANDIR"""
import os
import re
import shutil
import subprocess
import sys

cvcal, man_dir = sys.argv[1:3]
failures = []


def output(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True).stdout


tool_help = output(cvcal, "--help")
global_options = set(re.findall(r"^  (--[a-z-]+)", tool_help, re.M))
listed = tool_help.split("\nCommands:\n")[1]
commands = re.findall(r"^  ([a-z-]+(?: [a-z-]+)?)  +\S", listed, re.M)
if len(commands) < 20:
    failures.append("cvcal --help lists only %d commands" % len(commands))

for name in commands:
    help_text = output(cvcal, "help", *name.split(" "))
    synopsis, _, examples = help_text.partition("\nExamples:\n")
    allowed = global_options | set(re.findall(r"--[a-z][a-z-]*", synopsis))
    lines = [line.strip() for line in examples.splitlines() if line.strip()]
    if not lines:
        failures.append("cvcal help %s: no examples" % name)
    for line in lines:
        unknown = set(re.findall(r"(?<!\S)--[a-z][a-z-]*", line)) - allowed
        if not line.startswith("cvcal ") or " %s" % name not in line or unknown:
            failures.append("cvcal help %s: example %r (options not its own: %s)"
                            % (name, line, sorted(unknown)))

pages = ["cvcal.1", "cvadmind.8", "cvadmind.conf.5"]
pages += ["cvcal-%s.1" % name.replace(" ", "-") for name in commands]
for page in pages:
    path = os.path.join(man_dir, page)
    if not os.path.exists(path):
        failures.append("no page " + page)
        continue
    with open(path, encoding="utf-8") as f:
        sections = re.findall(r'^\.SH "?([A-Z ]+)"?$', f.read(), re.M)
    for wanted in ("NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "FILES", "EXIT STATUS",
                   "EXAMPLES", "SEE ALSO"):
        if wanted not in sections:
            failures.append("%s: no %s section" % (page, wanted))
    if page != "cvadmind.conf.5" and "OPTIONS" not in sections:
        failures.append("%s: no OPTIONS section" % page)

groff = shutil.which("groff")
if groff:
    for page in pages:
        path = os.path.join(man_dir, page)
        if os.path.exists(path):
            warnings = output(groff, "-man", "-ww", "-z", path).strip()
            if warnings:
                failures.append("%s: groff says: %s" % (page, warnings))

for failure in failures:
    print("FAIL:", failure)
print("%d pages checked, %d failures" % (len(pages), len(failures)))
if failures:
    sys.exit(1)
if not groff:
    print("SKIP: no groff, so the pages' roff was not checked")
    sys.exit(77)
