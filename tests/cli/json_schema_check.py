#!/usr/bin/env python3
"""Checks the tool's JSON output against docs/zelquin-cli.schema.json.

    json_schema_check.py CLI_TESTS SCHEMA SAMPLE_FOLDER

Runs the tool's GoogleTest program with ZQ_CLI_JSON_SAMPLES set, so that every JSON document its
tests parse (each command's, each kind of error, the watch's lines) is also written to
SAMPLE_FOLDER; then validates every one of them against the schema, and checks that the samples
cover every command, every error kind that the tests make and every watch line. Needs
python3-jsonschema.
"""

import json
import pathlib
import shutil
import subprocess
import sys

import jsonschema


def main():
    tests, schema_path, folder = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    run = subprocess.run([tests, "--gtest_brief=1", "--gtest_filter=JsonTest.*:WatchTest.*"], env={"ZQ_CLI_JSON_SAMPLES": str(folder)},
                         capture_output=True, text=True, check=False)
    if run.returncode != 0:
        print(run.stdout[-4000:], run.stderr[-4000:])
        print("FAIL: the tests that write the samples failed")
        return 1

    schema = json.loads(schema_path.read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    failures = 0
    commands, kinds, events = set(), set(), set()
    samples = sorted(folder.glob("*.json"))
    for sample in samples:
        document = json.loads(sample.read_text(encoding="utf-8"))
        for error in validator.iter_errors(document):
            failures += 1
            path = "/".join(str(p) for p in error.absolute_path)
            print(f"FAIL: {sample.name}: at /{path}: {error.message[:300]}")
        commands.add(document.get("command"))
        events.add(document.get("event"))
        error = document.get("error") or (document.get("camera") or {}).get("error")
        if error:
            kinds.add(error["kind"])

    expected_commands = {"list", "status", "set", "sync-time", "release", "watch"}
    expected_kinds = {"no-camera", "not-ready", "system-error", "refused", "mismatch", "no-volume"}
    for what, seen, expected in (("commands", commands, expected_commands),
                                 ("error kinds", kinds, expected_kinds),
                                 ("watch lines", events, {"arrival", "stopped"})):
        missing = expected - seen
        if missing:
            failures += 1
            print(f"FAIL: no sample of the {what} {sorted(missing)}")

    print(f"{len(samples)} JSON documents checked against {schema_path.name}: "
          f"{'ok' if not failures else f'{failures} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
