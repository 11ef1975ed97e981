#!/usr/bin/env python3
"""Checks that the #include lines of the product's folders follow the layers.

The layers, bottom to top: os (the operating-system seam and byte helpers), link (camera link),
host (host integration), panel (panel logic), then the programs: app (the Windows program) and
cli (the command-line tool), side by side. A file may include from its own folder and from the
folders below it, never from a folder above it or beside it. sim (the simulated camera and
drives) stands beside the real operating-system backend: it may use os only. The other test
doubles, vcam (the virtual camera's driver and service) and guest (the USB/IP camera and the
guest's helpers), stand on os and sim.

Two parts of the layers stand on less than their folder. The camera protocol (link/protocol.h,
with the pacing of link/pacing.h) is the bottom of link: it includes nothing of os or of the rest
of link, so that every transport and program can use it. And the command-line tool, but for its
backend over the os/ seam and its Windows program, is what the Linux program links: it includes
the protocol and nothing else of link, and nothing of host.

Folders that are not layers (tests, fuzz, bench, ...) may include anything; nothing in a layer may
include from them. Usage:

    check_layers.py [ROOT]        ROOT defaults to the repository holding this script

Prints every include that breaks the rule, as FILE:LINE, and exits with 1 when there is one.
"""
import os
import re
import sys

# What each layer may include, besides itself.
ALLOWED = {
    "os": set(),
    "link": {"os"},
    "host": {"os", "link"},
    "panel": {"os", "link", "host"},
    "app": {"os", "link", "host", "panel"},
    "cli": {"os", "link", "host", "panel"},
    "sim": {"os"},
    "vcam": {"os", "sim"},
    "guest": {"os", "sim"},
}

# The camera protocol, and the files of the layers that may include nothing else of link.
PROTOCOL = {"link/protocol.h", "link/pacing.h"}
PROTOCOL_SOURCES = {"link/protocol.h", "link/protocol.cpp", "link/pacing.h", "link/pacing.cpp"}
# The tool's files that only its Windows program and the os/ seam's backend use.
CLI_ON_THE_SEAM = {"cli/backend_seam.h", "cli/backend_seam.cpp", "cli/arrivals_win32.h",
                   "cli/arrivals_win32.cpp", "cli/main_win32.cpp"}

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".rc", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def top_folder(root, path):
    """The first component of `path` relative to `root`, or None outside it."""
    relative = os.path.relpath(path, root)
    if relative.startswith(".."):
        return None
    parts = relative.split(os.sep)
    return parts[0] if len(parts) > 1 else None


def included_folder(root, including_file, target):
    """The top folder an #include "target" in `including_file` reaches.

    Includes are written from the repository root ("link/camera.h"); a name that is not found that
    way is taken relative to the including file, as the preprocessor would.
    """
    first = target.split("/")[0]
    if "/" in target and os.path.isdir(os.path.join(root, first)):
        return first
    beside = os.path.normpath(os.path.join(os.path.dirname(including_file), target))
    return top_folder(root, beside)


def narrower_rule(root, path, included, target):
    """What is wrong with an include that its folder allows but the file's narrower rule does not;
    None when nothing is."""
    name = os.path.relpath(path, root).replace(os.sep, "/")
    if name in PROTOCOL_SOURCES and target in ("os", "link") and included not in PROTOCOL:
        return "the camera protocol includes \"%s\" (it stands on nothing but itself)" % included
    if name.startswith("cli/") and name not in CLI_ON_THE_SEAM:
        if target == "link" and included not in PROTOCOL:
            return ("the tool includes \"%s\" (beside its seam backend it uses the camera "
                    "protocol only, as the Linux program links it)" % included)
        if target == "host":
            return ("the tool includes \"%s\" (beside its seam backend nothing of host, as the "
                    "Linux program links it)" % included)
    return None


def violations(root):
    found = []
    for layer in sorted(ALLOWED):
        base = os.path.join(root, layer)
        if not os.path.isdir(base):
            continue
        for folder, _, files in os.walk(base):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = included_folder(root, path, match.group(1))
                        narrower = narrower_rule(root, path, match.group(1), target)
                        if narrower:
                            found.append("%s:%d: %s" % (os.path.relpath(path, root), number,
                                                        narrower))
                            continue
                        if target is None or target == layer:
                            continue
                        if target not in ALLOWED[layer]:
                            what = "a layer above or beside it" if target in ALLOWED else \
                                "a folder outside the layers"
                            found.append("%s:%d: %s includes \"%s\" from %s (%s)" % (
                                os.path.relpath(path, root), number, layer, match.group(1),
                                target, what))
    return found


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = violations(root)
    for line in found:
        print(line)
    if found:
        print("%d include(s) against the layers (os < link < host < panel < app, cli; sim on os)"
              % len(found))
        return 1
    print("layers: every include of %s goes down" % ", ".join(sorted(ALLOWED)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
