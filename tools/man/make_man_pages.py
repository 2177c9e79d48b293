#!/usr/bin/env python3
"""Writes the man pages of cvcal and cvadmind from the built programs' own help texts.

    make_man_pages.py --cvcal CVCAL --cvadmind CVADMIND --version V --out DIR

Pages: cvcal.1, cvcal-COMMAND.1 for every command that `cvcal --help` lists (the body from
`cvcal help COMMAND`), cvadmind.8 (`cvadmind --help`) and cvadmind.conf.5
(`cvadmind --help-config`). Nothing is written here but the layout: every word comes from the
programs, so a page cannot say what the program does not.

The help texts share one shape: usage lines, paragraphs, and sections that begin with a heading
line ending in ':' ("Exit status:"); a section's items begin two spaces in, their text either
after two spaces more on the same line or on the lines below, indented further.
"""

import argparse
import datetime
import os
import re
import subprocess
import sys

# Help headings and the man page sections they become.
SECTIONS = {
    "global options": "OPTIONS",
    "options": "OPTIONS",
    "settings": "SETTINGS",
    "environment": "ENVIRONMENT",
    "files": "FILES",
    "exit status": "EXIT STATUS",
    "examples": "EXAMPLES",
    "commands": "COMMANDS",
}
# The order of a page's sections, as man-pages(7) has them.
ORDER = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "COMMANDS", "SETTINGS", "ENVIRONMENT",
         "FILES", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]


def run(*command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            universal_newlines=True, env=dict(os.environ, LC_ALL="C"))
    if result.returncode != 0:
        sys.exit("make_man_pages: %s exited %d: %s" % (" ".join(command), result.returncode,
                                                       result.stderr.strip()))
    return result.stdout


def text(words):
    """Plain text as roff: backslashes, hyphens and a line's leading control characters."""
    out = words.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + out if out[:1] in (".", "'") else out


def lines_of(words):
    return "\n".join(text(line.strip()) for line in words)


class Roff(list):
    """Lines that are roff already."""


def heading_of(line):
    """The man section of a heading line ("Exit status:"), or None for any other line."""
    if line.startswith(" ") or not line.endswith(":"):
        return None
    key = re.sub(r"\s*\(.*\)", "", line[:-1]).strip().lower()
    return SECTIONS.get(key)


def split_help(help_text, options_in_description=False):
    """Usage lines, the description's lines and the headed sections of a help text. With
    options_in_description, items of the description that begin with '-' are its options."""
    usage, description, sections = [], [], {}
    lines = help_text.rstrip("\n").split("\n")
    at = 0
    if lines and lines[0].startswith("usage: "):
        usage.append(lines[0][len("usage: "):])
        at = 1
        while at < len(lines) and lines[at].startswith(" ") and lines[at].strip():
            usage.append(lines[at][len("usage: "):])
            at += 1
    current = description
    for line in lines[at:]:
        section = heading_of(line)
        if section:
            current = sections.setdefault(section, [])
        elif options_in_description and current is description and line.startswith("  -"):
            current = sections.setdefault("OPTIONS", [])
            current.append(line)
        elif (options_in_description and current is sections.get("OPTIONS") and line.strip()
              and not line.startswith(" ")):
            current = description
            current.append(line)
        else:
            current.append(line)
    return usage, description, sections


def blocks(lines):
    """The paragraphs ("para", lines) and items ("item", [term, text lines]) of a section."""
    result = []
    for line in lines:
        if not line.strip():
            result.append(("break", None))
        elif line.startswith("  ") and not line.startswith("   "):
            m = re.match(r"^  (\S.*?)(?:\s{2,}(\S.*))?$", line)
            result.append(("item", [m.group(1), [m.group(2)] if m.group(2) else []]))
        elif line.startswith("   ") and result and result[-1][0] == "item":
            result[-1][1][1].append(line)
        else:
            if not result or result[-1][0] != "para":
                result.append(("para", []))
            result[-1][1].append(line)
    return [b for b in result if b[0] != "break"]


def term(words):
    """An item's term: the name bold, its values (FILE, ADDRESS:PORT) italic."""
    parts = words.split(" ")
    out = ["\\fB%s\\fR" % text(parts[0])]
    for word in parts[1:]:
        if word == "=" or word == "|":
            out.append(word)
        elif re.match(r"^[A-Z][A-Z0-9_:.]*$", word):
            out.append("\\fI%s\\fR" % text(word))
        else:
            out.append("\\fB%s\\fR" % text(word))
    return " ".join(out)


def render_section(name, lines):
    out = Roff()
    if name == "EXAMPLES":
        # Command lines (and a file's lines) as they are typed, one block each.
        block = []
        for line in lines + [""]:
            if line.startswith("  "):
                block.append(text(line[2:].rstrip()))
                continue
            if block:
                out += [".PP", ".RS 4", ".nf"] + block + [".fi", ".RE"]
                block = []
            if line.strip():
                out += [".PP", text(line.strip())]
        return out
    for kind, value in blocks(lines):
        if kind == "para":
            out += [".PP", lines_of(value)]
        else:
            label, body = value
            out += [".TP", term(label)]
            if body:
                out.append(lines_of(body))
    return out


def page(name, section, version, summary, synopsis, description, sections, see_also):
    """A whole page; synopsis is roff, description and the sections are help lines (or Roff)."""
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", datetime.datetime.now().timestamp()))
    date = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).date().isoformat()
    out = ['.TH "%s" "%s" "%s" "CVAICP %s" "CVAICP"' % (name.upper(), section, date, version),
           ".SH NAME", "%s \\- %s" % (text(name), text(summary)),
           ".SH SYNOPSIS", ".nf"] + synopsis + [".fi"]
    rendered = {"DESCRIPTION": render_section("DESCRIPTION", description)}
    for key, body in sections.items():
        rendered[key] = body if isinstance(body, Roff) else render_section(key, body)
    for key in ORDER[2:-1]:
        if rendered.get(key):
            out += [".SH " + key] + rendered[key]
    out += [".SH SEE ALSO", ",\n".join("\\fB\\%%%s\\fR(%s)" % (text(p), s) for p, s in see_also)]
    return "\n".join(out) + "\n"


def cvcal_commands(tool_help):
    """The commands that cvcal --help lists: "  NAME  summary" lines after "Commands:"; a name
    has one word, or two for a group's command ("config show")."""
    _, _, sections = split_help(tool_help)
    commands = []
    for line in sections.get("COMMANDS", []):
        m = re.match(r"^  (\S+(?: [a-z][a-z-]*)?)  +(\S.*)$", line) or \
            re.match(r"^  (\S+(?: [a-z][a-z-]*)?) (\S.*)$", line)
        if m:
            commands.append((m.group(1), m.group(2)))
    return commands


def command_page_name(command):
    return "cvcal-" + command.replace(" ", "-")


def write(out_dir, file_name, content):
    with open(os.path.join(out_dir, file_name), "w", encoding="utf-8") as f:
        f.write(content)
    return file_name


def command_page(name, summary, help_text, version, tool_sections, all_pages):
    _, description, sections = split_help(help_text)
    # After the summary, the command's first indented lines are its synopsis; the rest of its
    # text tells what it does.
    while description and (not description[0].strip() or
                           description[0].rstrip(".") == summary):
        description.pop(0)
    synopsis = []
    while description and (description[0].startswith("  ") or not description[0].strip()):
        line = description.pop(0).strip()
        if line:
            synopsis.append(line)
    if not "".join(description).strip():
        description = [summary[:1].upper() + summary[1:] + "."]
    roff_synopsis = [text("cvcal [") + "\\fIglobal options\\fR" + text("] " + name)]
    roff_synopsis += ["      " + text(line) for line in synopsis]
    body = dict(tool_sections)
    body.update(sections)
    options = []
    for option in re.findall(r"--[a-z][a-z-]*", " ".join(synopsis)):
        if option not in options:
            options.append(option)
    lead = []
    if options:
        lead = ["The options of the synopsis, told above: " + ", ".join(options) + ".", ""]
    body["OPTIONS"] = lead + ["The global options, as in cvcal(1):"] + body.get("OPTIONS", [])
    page_name = command_page_name(name)
    group = name.split(" ")[0] + " " if " " in name else None
    see = [("cvcal", 1)] + [
        (command_page_name(other), 1) for other in all_pages
        if group and other != name and other.startswith(group)]
    return page(page_name, 1, version, summary, roff_synopsis, description, body, see)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cvcal", required=True)
    parser.add_argument("--cvadmind", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    # The pages of commands that are gone must not be installed with the others.
    for old in os.listdir(args.out):
        if re.search(r"\.[158]$", old):
            os.remove(os.path.join(args.out, old))

    tool_help = run(args.cvcal, "--help")
    commands = cvcal_commands(tool_help)
    if not commands:
        sys.exit("make_man_pages: cvcal --help lists no commands")
    names = [n for n, _ in commands]
    usage, description, sections = split_help(tool_help)
    tool_sections = {k: v for k, v in sections.items() if k != "COMMANDS"}
    written = []
    for name, summary in commands:
        # Every listed name has its own help, or the list was misread: run() stops on a failure.
        help_text = run(args.cvcal, "help", *name.split(" "))
        written.append(write(args.out, command_page_name(name) + ".1", command_page(
            name, summary, help_text, args.version, tool_sections, names)))

    listing = Roff()
    for name, summary in commands:
        listing += [".TP", "\\fB%s\\fR" % text(name),
                    "%s; see \\fB\\%%%s\\fR(1)." % (text(summary), text(command_page_name(name)))]
    cvcal_sections = dict(tool_sections, COMMANDS=listing)
    admin_pages = [("cvadmind", 8), ("cvadmind.conf", 5)]
    written.append(write(args.out, "cvcal.1", page(
        "cvcal", 1, args.version, "command-line host of the calendar provider library",
        [text(line) for line in usage], description, cvcal_sections,
        [(command_page_name(n), 1) for n in names] + admin_pages)))

    a_usage, a_description, a_sections = split_help(run(args.cvadmind, "--help"), True)
    written.append(write(args.out, "cvadmind.8", page(
        "cvadmind", 8, args.version, "remote admin service of the calendar provider",
        [text(line) for line in a_usage], a_description, a_sections,
        [("cvadmind.conf", 5), ("cvcal", 1)])))

    f_usage, f_description, f_sections = split_help(run(args.cvadmind, "--help-config"))
    written.append(write(args.out, "cvadmind.conf.5", page(
        "cvadmind.conf", 5, args.version, "configuration file of cvadmind",
        ["\\fIPREFIX\\fR" + text("/etc/cvaicp/cvadmind.conf")] + [text(l) for l in f_usage],
        f_description, f_sections, [("cvadmind", 8), ("cvcal", 1)])))
    # The pages made, for the test to compare with the commands it finds.
    write(args.out, "pages.txt", "\n".join(written) + "\n")


if __name__ == "__main__":
    main()
