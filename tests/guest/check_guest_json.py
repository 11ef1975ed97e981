#!/usr/bin/env python3
"""Checks the JSON that zelquin-cli wrote in the guest against docs/zelquin-cli.schema.json.

    check_guest_json.py SCHEMA FOLDER

FOLDER is the results folder's json/ folder, one document per file, kept by the guest scenarios
that ran the tool with --json (guest::KeepJson). Every document must validate against the schema,
and together they must hold every command, the error kinds the scenarios provoke and both kinds of
watch line, so that a scenario that stopped writing JSON does not pass unnoticed. Needs
python3-jsonschema.
"""

import json
import pathlib
import sys

import jsonschema

EXPECTED = {
    "commands": {"list", "status", "set", "sync-time", "release", "watch"},
    "error kinds": {"no-camera", "not-ready", "system-error", "refused"},
    "watch lines": {"arrival", "stopped"},
}


def main():
    schema_path, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    schema = json.loads(schema_path.read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    samples = sorted(folder.glob("*.json")) if folder.is_dir() else []
    if not samples:
        print(f"FAIL: no JSON documents in {folder}; did the guest scenarios run?")
        return 1
    failures = 0
    seen = {what: set() for what in EXPECTED}
    for sample in samples:
        try:
            document = json.loads(sample.read_text(encoding="utf-8"))
        except ValueError as error:
            failures += 1
            print(f"FAIL: {sample.name}: not JSON: {error}")
            continue
        for error in validator.iter_errors(document):
            failures += 1
            path = "/".join(str(p) for p in error.absolute_path)
            print(f"FAIL: {sample.name}: at /{path}: {error.message[:300]}")
        seen["commands"].add(document.get("command"))
        seen["watch lines"].add(document.get("event"))
        error = document.get("error") or (document.get("camera") or {}).get("error")
        if error:
            seen["error kinds"].add(error.get("kind"))
    for what, expected in EXPECTED.items():
        missing = expected - seen[what]
        if missing:
            failures += 1
            print(f"FAIL: no sample of the {what} {sorted(missing)}")
    print(f"{len(samples)} JSON documents from the guest checked against {schema_path.name}: "
          f"{'ok' if not failures else f'{failures} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
