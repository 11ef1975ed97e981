#!/usr/bin/env python3
"""The bash completion, driven as bash drives it, and held against the tool's own help.

    completion_test.py PROGRAM COMPLETION CLI_HELP_PY [BASH_COMPLETION]

Each case is a command line being completed at its end: the words are split as bash splits them
(blanks, and "=" as a word of its own, as COMP_WORDBREAKS has it), COMP_WORDS, COMP_CWORD,
COMP_LINE and COMP_POINT are set, the function that `complete -p zelquin-cli` names is called
with bash-completion loaded, and COMPREPLY is compared, as a set, with what the case expects
(and whether it asked for no blank after the word). The --device cases look for nodes in a
folder of the test's own (ZELQUIN_CLI_COMPLETION_DEV), holding sg0, sg1, sg10 and, not to be
offered, sda and sgx. Last, the commands, each command's options and the settings offered are
compared with those that `zelquin-cli --help` and each command's --help list.
"""

import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import unittest

PROGRAM, COMPLETION, CLI_HELP = sys.argv[1:4]
BASH_COMPLETION = sys.argv[4] if len(sys.argv) > 4 else "/usr/share/bash-completion/bash_completion"
spec = importlib.util.spec_from_file_location("cli_help", CLI_HELP)
cli_help = importlib.util.module_from_spec(spec)
spec.loader.exec_module(cli_help)

# Loads bash-completion and the completion, then completes the words given as arguments; the
# line is in $LINE. compopt works only while bash itself completes: here it is recorded.
DRIVER = r"""
source "$BASH_COMPLETION" || exit 90
source "$COMPLETION" || exit 91
function=$(complete -p zelquin-cli | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[ -n "$function" ] || exit 92
compopt() { echo "compopt $*" >&2; }
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE=$LINE
COMP_POINT=${#LINE}
COMPREPLY=()
"$function" zelquin-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""

TOOL = {"-h", "--help", "--version", "--json", "-v", "--verbose", "--pace"}
TARGET = {"-d", "--drive", "--device"}
ALL = {"-a", "--all"}
NAMES = {"overwrite=", "timestamp=", "resolution="}


def split(line):
    """The words bash makes of `line` for completion: "=" is a word of its own."""
    words = []
    for blank_separated in line.split(" "):
        words.extend(w for w in re.split(r"(=+)", blank_separated) if w != "")
    if line.endswith(" ") or line.endswith("="):
        words.append("")
    return words


def complete(line, dev=None):
    """(COMPREPLY as a set, whether nospace was asked for) for `line`."""
    env = dict(os.environ, LINE=line, BASH_COMPLETION=BASH_COMPLETION, COMPLETION=COMPLETION)
    env.pop("ZELQUIN_CLI_COMPLETION_DEV", None)
    if dev is not None:
        env["ZELQUIN_CLI_COMPLETION_DEV"] = dev
    done = subprocess.run(["bash", "--norc", "--noprofile", "-c", DRIVER, "bash", *split(line)],
                          capture_output=True, text=True, env=env)
    if done.returncode != 0:
        raise AssertionError(f"{line!r}: bash exited {done.returncode}: {done.stderr}")
    replies = {w for w in done.stdout.split("\n") if w}
    return replies, "compopt -o nospace" in done.stderr


class Cases(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.dev = os.path.join(cls.temp.name, "dev")
        cls.empty = os.path.join(cls.temp.name, "empty")
        os.makedirs(cls.dev)
        os.makedirs(cls.empty)
        for name in ("sg0", "sg1", "sg10", "sda", "sgx"):
            open(os.path.join(cls.dev, name), "w").close()

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def test_table(self):
        d = self.dev
        nodes = {f"{d}/sg0", f"{d}/sg1", f"{d}/sg10"}
        # line, expected replies, nospace asked for (None: not checked)
        cases = [
            # commands
            ("zelquin-cli ", {"list", "status", "set", "sync-time", "release", "watch"}, False),
            ("zelquin-cli s", {"status", "set", "sync-time"}, False),
            ("zelquin-cli --json sy", {"sync-time"}, False),
            ("zelquin-cli -v w", {"watch"}, False),
            ("zelquin-cli x", set(), False),
            # the tool's options, each once
            ("zelquin-cli -", TOOL, False),
            ("zelquin-cli --json -", TOOL - {"--json"}, False),
            ("zelquin-cli --verbose --", {"--help", "--version", "--json", "--pace"}, False),
            # --pace takes a number, which is neither completed nor taken for the command
            ("zelquin-cli --pace ", set(), False),
            ("zelquin-cli --pace 0 s", {"status", "set", "sync-time"}, False),
            ("zelquin-cli --pace 0 set r", {"resolution="}, True),
            ("zelquin-cli --pace 50 list -", TOOL - {"--pace"}, False),
            # each command's options with the tool's
            ("zelquin-cli list -", TOOL, False),
            ("zelquin-cli status -", TOOL | TARGET | ALL, False),
            ("zelquin-cli set -", TOOL | TARGET | ALL, False),
            ("zelquin-cli sync-time --", {o for o in TOOL | TARGET | ALL if o.startswith("--")},
             False),
            ("zelquin-cli release -", TOOL | TARGET | {"--open", "--timeout"}, False),
            ("zelquin-cli watch -", TOOL | {"--sync-time", "--set", "--count", "--timeout"},
             False),
            # given once, not offered again; --drive and --all rule each other out; --set repeats
            ("zelquin-cli status --device sg0 -", TOOL, False),
            ("zelquin-cli status --device=sg0 -", TOOL, False),
            ("zelquin-cli set --all -", TOOL, False),
            ("zelquin-cli sync-time -a --json -", TOOL - {"--json"}, False),
            ("zelquin-cli release --open -d sg1 --", {"--help", "--version", "--json",
                                                     "--verbose", "--pace", "--timeout"}, False),
            ("zelquin-cli watch --set overwrite=on --count 2 --",
             {"--help", "--version", "--json", "--verbose", "--pace", "--sync-time", "--set",
              "--timeout"},
             False),
            # settings: names with no blank after them, then values
            ("zelquin-cli set ", NAMES, True),
            ("zelquin-cli set r", {"resolution="}, True),
            ("zelquin-cli set overwrite=on ", NAMES - {"overwrite="}, True),
            ("zelquin-cli set overwrite=on timestamp=off resolution=720p ", set(), False),
            ("zelquin-cli set overwrite=", {"on", "off"}, False),
            ("zelquin-cli set timestamp=of", {"off"}, False),
            ("zelquin-cli set resolution=", {"1080p", "720p"}, False),
            ("zelquin-cli set Resolution=1", {"1080p"}, False),
            ("zelquin-cli set speed=", set(), False),
            ("zelquin-cli set --all ", NAMES, True),
            ("zelquin-cli watch --set ", NAMES, True),
            ("zelquin-cli watch --set resolution=720p --set ", NAMES - {"resolution="}, True),
            ("zelquin-cli watch --set resolution=7", {"720p"}, False),
            ("zelquin-cli watch --set=overwrite=", {"on", "off"}, False),
            ("zelquin-cli watch ", set(), False),
            # no values to offer
            ("zelquin-cli status ", set(), False),
            ("zelquin-cli release --timeout ", set(), False),
            ("zelquin-cli watch --count ", set(), False),
            # the nodes present, as paths or, after "s", as names
            ("zelquin-cli status --device ", nodes, False),
            ("zelquin-cli status --drive ", nodes, False),
            ("zelquin-cli set -d ", nodes, False),
            ("zelquin-cli release --device=", nodes, False),
            (f"zelquin-cli status --device {d}/sg1", {f"{d}/sg1", f"{d}/sg10"}, False),
            ("zelquin-cli status --device sg", {"sg0", "sg1", "sg10"}, False),
            ("zelquin-cli status -d sg1", {"sg1", "sg10"}, False),
        ]
        for line, expected, nospace in cases:
            with self.subTest(line=line):
                replies, asked = complete(line, self.dev)
                self.assertEqual(replies, expected)
                if nospace is not None:
                    self.assertEqual(asked, nospace)

    def test_no_nodes_no_offer(self):
        for line in ("zelquin-cli status --device ", "zelquin-cli status --device sg"):
            with self.subTest(line=line):
                self.assertEqual(complete(line, self.empty), (set(), False))

    def test_looks_in_dev_by_default(self):
        present = {os.path.join("/dev", n) for n in os.listdir("/dev") if re.fullmatch(r"sg\d.*", n)}
        self.assertEqual(complete("zelquin-cli status --device ")[0], present)


class AgainstTheHelp(unittest.TestCase):
    """The completion offers what the tool's help lists, no more and no less."""

    @classmethod
    def setUpClass(cls):
        cls.help = cli_help.help(PROGRAM)

    @staticmethod
    def options(parsed):
        return {name for spec, _ in parsed["sections"].get("Options", [])
                for name in cli_help.option_names(spec)}

    @staticmethod
    def settings(description):
        """{NAME: {VALUE}} of a help text such as "overwrite=on|off resolution=1080p|720p"."""
        return {name: set(values.split("|"))
                for name, values in re.findall(r"(\w+)=([\w|]+)", description)}

    def test_commands(self):
        self.assertEqual(complete("zelquin-cli ")[0], set(self.help["commands"]))

    def test_options_of_the_tool_and_of_each_command(self):
        tool = self.options(self.help["tool"])
        self.assertEqual(complete("zelquin-cli -")[0], tool)
        for name, command in self.help["commands"].items():
            with self.subTest(command=name):
                self.assertEqual(complete(f"zelquin-cli {name} -")[0],
                                 self.options(command) | tool)

    def test_settings_and_values(self):
        sources = {"zelquin-cli set ": [d for s, d in self.help["commands"]["set"]["sections"]
                                        ["Positionals"] if s.startswith("setting")],
                   "zelquin-cli watch --set ": [d for s, d in self.help["commands"]["watch"]
                                                ["sections"]["Options"] if s.startswith("--set")]}
        for line, descriptions in sources.items():
            with self.subTest(line=line):
                self.assertEqual(len(descriptions), 1)
                settings = self.settings(descriptions[0])
                self.assertGreaterEqual(len(settings), 1)
                self.assertEqual(complete(line)[0], {f"{name}=" for name in settings})
                for name, values in settings.items():
                    self.assertEqual(complete(f"{line}{name}=")[0], values)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
