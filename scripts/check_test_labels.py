#!/usr/bin/env python3
"""Every test of a build carries one of the labels that choose what to run.

usage: check_test_labels.py CTEST BUILD_DIR

The labels: unit (code on its own, no simulated camera), sim (against the simulated camera and
computer), guest (through a Linux kernel in QEMU), wine (a Windows program under Wine), vcam
(through the virtual camera's driver, under Wine), fuzz (the fuzzing gates), package (the
installed files and the packages), file (checks of built Windows files). `ctest --preset quick`
runs unit and sim; a test without a label would fall out of every such choice unseen.
"""
import json
import subprocess
import sys

KNOWN = {"unit", "sim", "guest", "wine", "vcam", "fuzz", "package", "file"}


def main():
    ctest, build = sys.argv[1], sys.argv[2]
    listing = subprocess.run([ctest, "--test-dir", build, "--show-only=json-v1"],
                             check=True, capture_output=True, text=True).stdout
    tests = json.loads(listing)["tests"]
    unlabelled, unknown = [], []
    for test in tests:
        labels = []
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                labels = prop["value"]
        if not labels:
            unlabelled.append(test["name"])
        for label in labels:
            if label not in KNOWN:
                unknown.append(f"{test['name']}: {label}")
    for name in unlabelled:
        print(f"no label: {name}")
    for entry in unknown:
        print(f"unknown label: {entry}")
    print(f"{len(tests)} tests, {len(unlabelled)} without a label, {len(unknown)} unknown labels")
    return 1 if unlabelled or unknown or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
