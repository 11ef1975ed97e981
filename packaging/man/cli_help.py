#!/usr/bin/env python3
"""The tool's own help, read as data: its commands and, for the tool and each command, its options.

    cli_help.py h2m PROGRAM INCLUDE WRAPPER
        writes help2man's include file, with a COMMANDS section that holds each command's help (its
        summary, usage and options) and an EXIT STATUS section from the footer, and WRAPPER, the
        program for help2man to run: PROGRAM whose --help leaves the footer to that section
    cli_help.py help PROGRAM ARG...
        runs PROGRAM ARG... and prints its output without the footer, with ", " between an
        option's names (as help2man expects them)

The manual page thus holds all the help the tool prints, and nothing else.

As a module, help(program) returns the parsed help for the man page's and the completion's tests.
CLI11 lays its help out as: a summary, "Usage: ...", then sections ("Options:", "Positionals:",
"Subcommands:") of entries, each "  NAME[ ARGS]" and its description after two or more blanks or
on the lines below, indented; the footer (the exit codes, common to every command) follows a
blank line and "Exit codes:".
"""

import os
import re
import subprocess
import sys

SECTION = re.compile(r"^([A-Z][A-Za-z ]*):$")
ENTRY = re.compile(r"^  (\S.*?)(?: {2,}(\S.*))?$")
CONTINUATION = re.compile(r"^ {4,}(\S.*)$")


FOOTER = "Exit codes:"
EXIT_CODE = re.compile(r"^  (\d+)  (\S+) +(\S.*)$")


def run_help(program, *command):
    done = subprocess.run([program, *command, "--help"], capture_output=True, text=True,
                          check=True)
    return done.stdout


def parse(text):
    """{"summary": str, "usage": str, "sections": {name: [(spec, description)]}}."""
    lines = text.split("\n")
    parsed = {"summary": "", "usage": "", "sections": {}}
    summary = []
    at = 0
    while at < len(lines) and not lines[at].startswith("Usage: "):
        summary.append(lines[at])
        at += 1
    if at == len(lines):
        raise ValueError("no Usage: line in the help")
    parsed["summary"] = " ".join(s.strip() for s in summary if s.strip())
    parsed["usage"] = lines[at][len("Usage: "):]
    section = None
    for line in lines[at + 1:]:
        heading = SECTION.match(line)
        if heading:
            if heading.group(1) == "Exit codes":
                break
            section = parsed["sections"].setdefault(heading.group(1), [])
            continue
        if section is None or not line.strip():
            continue
        continued = CONTINUATION.match(line)
        if continued and section:
            spec, description = section[-1]
            section[-1] = (spec, (description + " " + continued.group(1)).strip())
            continue
        entry = ENTRY.match(line)
        if not entry:
            raise ValueError(f"cannot read the help line {line!r}")
        section.append((entry.group(1).strip(), entry.group(2) or ""))
    return parsed


def option_names(spec):
    """The option names of an entry: "-d,--drive,--device TEXT" gives -d, --drive, --device."""
    return [name for name in spec.split(" ")[0].split(",") if name.startswith("-")]


def help(program):
    """{"tool": parsed, "commands": {name: parsed}} in the tool's order of commands."""
    tool = parse(run_help(program))
    commands = {}
    for spec, _ in tool["sections"].get("Subcommands", []):
        commands[spec] = parse(run_help(program, spec))
    return {"tool": tool, "commands": commands}


def exit_codes(text):
    """The footer's exit codes [(code, kind, meaning)] and the paragraph after them."""
    lines = text.split("\n")
    if FOOTER not in lines:
        raise ValueError("no exit codes in the help")
    codes, notes = [], []
    for line in lines[lines.index(FOOTER) + 1:]:
        code = EXIT_CODE.match(line)
        if code:
            codes.append(code.groups())
        elif line.strip():
            notes.append(line.strip())
    return codes, " ".join(notes)


def without_footer(text):
    """The help up to its footer, each option's names joined by ", "."""
    lines = text.split("\n")
    if FOOTER in lines:
        lines = lines[:lines.index(FOOTER)]
    spaced = [re.sub(r"(?<=\S),(?=-)", ", ", line) if line.startswith("  -") else line
              for line in lines]
    return "\n".join(spaced).rstrip("\n") + "\n"


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def roff_entry(spec):
    names, _, rest = spec.partition(" ")
    marked = ", ".join(f"\\fB{roff(name)}\\fR" for name in names.split(","))
    return marked + (" " + roff(rest) if rest else "")


def h2m(program, output, wrapper):
    parsed = help(program)
    out = ["[COMMANDS]"]
    for name, command in parsed["commands"].items():
        out.append(f".SS {roff(name)}")
        out.append(roff(command["summary"]))
        out.append(".PP")
        out.append(f"Usage: \\fB{roff(command['usage'])}\\fR")
        for section, entries in command["sections"].items():
            out.append(f".PP\n{roff(section)}:")
            for spec, description in entries:
                out.append(".TP")
                out.append(roff_entry(spec) if spec.startswith("-") else f"\\fI{roff(spec)}\\fR")
                out.append(roff(description))
    codes, notes = exit_codes(run_help(program))
    out.append("[EXIT STATUS]")
    for code, kind, meaning in codes:
        out.append(f".TP\n\\fB{code}\\fR ({roff(kind)})\n{roff(meaning)}")
    if notes:
        out.append(f".PP\n{roff(notes)}")
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    with open(wrapper, "w", encoding="utf-8") as f:
        f.write(f"#!/bin/sh\nexec '{sys.executable}' '{__file__}' help '{program}' \"$@\"\n")
    os.chmod(wrapper, 0o755)


def main(argv):
    if len(argv) == 5 and argv[1] == "h2m":
        h2m(argv[2], argv[3], argv[4])
    elif len(argv) >= 3 and argv[1] == "help":
        done = subprocess.run(argv[2:], capture_output=True, text=True)
        sys.stdout.write(without_footer(done.stdout))
        sys.stderr.write(done.stderr)
        return done.returncode
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
