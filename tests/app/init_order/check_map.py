#!/usr/bin/env python3
"""Checks, in the linker's map of Zelquin.exe, that the static objects of the application object,
the status text and the remembered arrival drive are constructed in that order.

    check_map.py [--machine i386|amd64] MAP

The runtime calls the constructors listed in the .ctors sections; those of objects given a rank
(os/init_order.h) go to .ctors.NNNNN sections named 65535 minus their priority, which the runtime
calls in the order of their priorities, before all others (the init_order probe shows that at run
time). So each of the three files must contribute exactly one ranked entry (a pointer: 4 bytes,
8 in the 64-bit build), of the rank that its object has, and no unranked one.
"""
import argparse
import re
import sys

EXPECTED = [  # file, rank
    ("zelquin_app.cpp.obj", 1),
    ("panel.cpp.obj", 2),
    ("volume_tracking.cpp.obj", 3),
]

ENTRY = re.compile(r"^\s*(\.ctors(?:\.(\d+))?)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+.*\(([^()]+)\)\s*$")


POINTER_SIZE = {"i386": 4, "amd64": 8}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("map")
    parser.add_argument("--machine", choices=sorted(POINTER_SIZE), default="i386")
    args = parser.parse_args()
    entries = {}
    with open(args.map) as source:
        for line in source:
            match = ENTRY.match(line)
            if match:
                section, number, size, member = match.groups()
                priority = 65535 - int(number) if number else None
                entries.setdefault(member, []).append((priority, int(size, 16)))
    failures = []
    for member, rank in EXPECTED:
        found = entries.get(member, [])
        wanted = [(1000 + rank, POINTER_SIZE[args.machine])]
        if found != wanted:
            failures.append("%s: constructor entries %r (priority, bytes), expected %r" %
                            (member, found, wanted))
    for line in failures:
        print(line)
    if failures:
        return 1
    print("construction order: " + ", then ".join(m for m, _ in EXPECTED))
    return 0


if __name__ == "__main__":
    sys.exit(main())
