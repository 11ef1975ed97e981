#!/usr/bin/env python3
"""The manual page against the tool's own help, as man shows it to a reader.

    man_page_test.py PROGRAM PAGE CLI_HELP_PY

man renders the page without a warning; the page holds every option of the tool (OPTIONS), a
subsection for each command and no other (COMMANDS) with the command's summary, usage and every
option of its help, each exit code (EXIT STATUS), and the program's version. The check is also
run on pages with a command, an option or an exit code taken out, each of which it must catch.
"""

import importlib.util
import os
import re
import subprocess
import sys
import unittest

PROGRAM, PAGE, CLI_HELP = sys.argv[1:4]
spec = importlib.util.spec_from_file_location("cli_help", CLI_HELP)
cli_help = importlib.util.module_from_spec(spec)
spec.loader.exec_module(cli_help)


def man(*options, width=80):
    env = dict(os.environ, MANWIDTH=str(width), LC_ALL="C.UTF-8", MANPAGER="cat", PAGER="cat")
    return subprocess.run(["man", *options, "-l", PAGE], capture_output=True, text=True, env=env)


def sections(text):
    """{heading: [lines]} of the rendered page (headings start in the first column)."""
    found, current = {}, None
    for line in text.split("\n")[1:]:
        if line and not line[0].isspace():
            current = found.setdefault(line.strip(), [])
        elif current is not None:
            current.append(line)
    return found


def subsections(lines):
    """{name: text} of a section's subsections (headings indented by three blanks)."""
    found, current = {}, None
    for line in lines:
        if re.match(r"^   \S", line):
            current = line.strip()
            found[current] = ""
        elif current is not None:
            found[current] += line.strip() + "\n"
    return found


def has_word(text, word):
    return re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text) is not None


def problems(text, help, codes, version):
    """What of the help the rendered page `text` lacks."""
    found = []
    page = sections(text)
    options = "\n".join(page.get("OPTIONS", []))
    for spec, description in help["tool"]["sections"].get("Options", []):
        for name in cli_help.option_names(spec):
            if not has_word(options, name):
                found.append(f"OPTIONS lacks {name}")
    commands = subsections(page.get("COMMANDS", []))
    if sorted(commands) != sorted(help["commands"]):
        found.append(f"COMMANDS has {sorted(commands)}, the tool {sorted(help['commands'])}")
    for name, command in help["commands"].items():
        body = " ".join(commands.get(name, "").split())
        if command["summary"] not in body:
            found.append(f"{name}: no summary")
        if f"Usage: {command['usage']}" not in body:
            found.append(f"{name}: no usage")
        for spec, _ in command["sections"].get("Options", []):
            for option in cli_help.option_names(spec):
                if not has_word(body, option):
                    found.append(f"{name}: lacks {option}")
    status = " ".join(" ".join(page.get("EXIT STATUS", [])).split())
    for code, kind, meaning in codes:
        if f"{code} ({kind}) {meaning}" not in status:
            found.append(f"EXIT STATUS lacks {code}")
    if version not in text.strip().split("\n")[-1]:
        found.append(f"the last line lacks {version!r}")
    return found


class ManPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.help = cli_help.help(PROGRAM)
        cls.codes, _ = cli_help.exit_codes(cli_help.run_help(PROGRAM))
        cls.version = subprocess.run([PROGRAM, "--version"], capture_output=True, text=True,
                                     check=True).stdout.strip()
        # Unhyphenated and unjustified, wide: each word whole on one line.
        rendered = man("--nh", "--nj", width=200)
        assert rendered.returncode == 0, rendered.stderr
        cls.text = rendered.stdout

    def test_man_renders_it_without_warnings(self):
        rendered = man("--warnings")
        self.assertEqual(rendered.returncode, 0)
        self.assertEqual(rendered.stderr, "")
        self.assertIn("ZELQUIN-CLI(1)", rendered.stdout)

    def test_page_holds_all_the_help(self):
        self.assertGreaterEqual(len(self.help["commands"]), 1)
        self.assertGreaterEqual(len(self.codes), 1)
        self.assertEqual(problems(self.text, self.help, self.codes, self.version), [])

    def test_check_catches_what_is_taken_out(self):
        command = list(self.help["commands"])[-1]
        subsection = re.compile(r"^   " + re.escape(command) + r"\n(?:(?!   \S).*\n)*", re.M)
        option = cli_help.option_names(
            self.help["commands"][command]["sections"]["Options"][-1][0])[-1]
        code = self.codes[-1]
        taken_out = {
            "a command": subsection.sub("", self.text, count=1),
            "an option of a command": self.text.replace(option, "--gone"),
            "an option of the tool": self.text.replace("--json", "--gone"),
            "an exit code": self.text.replace(f"{code[0]} ({code[1]})", ""),
            "the version": self.text.replace(self.version, ""),
        }
        for what, text in taken_out.items():
            with self.subTest(what=what):
                self.assertNotEqual(text, self.text)
                self.assertNotEqual(problems(text, self.help, self.codes, self.version), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
