#!/usr/bin/env python3
"""Reports one guest scenario's verdict to ctest from the results of the guest run.

    report_scenario.py RESULTS Suite.Name

Reads RESULTS/scenarios.json (GoogleTest's JSON report, written inside the guest). Passes when the
scenario ran and passed; otherwise prints its failures and the logs of its servers and attach
client, and fails. A scenario missing from the report (the guest stopped before it) fails too.
"""
import glob
import json
import os
import re
import sys


def main():
    results, full = sys.argv[1], sys.argv[2]
    report = os.path.join(results, "scenarios.json")
    try:
        with open(report, encoding="utf-8") as f:
            data = json.load(f)
    except (OSError, ValueError) as error:
        print(f"no scenario report ({error}); see {results}/job.log and console.log")
        return 1
    suite, _, name = full.partition(".")
    for group in data.get("testsuites", []):
        if group.get("name") != suite:
            continue
        for test in group.get("testsuite", []):
            if test.get("name") != name:
                continue
            failures = test.get("failures", [])
            if test.get("result") == "SKIPPED" or test.get("status") != "RUN":
                print(f"{full} was skipped in the guest")
                return 1
            if not failures:
                print(f"{full} passed in the guest ({test.get('time', '?')})")
                return 0
            print(f"{full} failed in the guest:")
            for failure in failures:
                print(failure.get("failure", ""))
            slug = re.sub(r"[^A-Za-z0-9.-]", "_", full)
            for log in sorted(glob.glob(os.path.join(results, slug + ".*.log"))):
                print(f"---- {os.path.basename(log)}")
                with open(log, encoding="utf-8", errors="replace") as f:
                    print(f.read()[-6000:])
            return 1
    print(f"{full} did not run in the guest; see {results}/job.log")
    return 1


if __name__ == "__main__":
    sys.exit(main())
