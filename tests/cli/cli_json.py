"""The tool's JSON documents checked against its schema (docs/zelquin-cli.schema.json).

Shared by the checks that run after the tests which keep the documents: json_schema_check.py (the
native tests'), vcam_cli_scenario.py (the scenarios on the virtual camera) and
tests/guest/check_guest_json.py (the guest's). Each problem is printed as a line starting
"FAIL: "; the callers count them. Needs python3-jsonschema.
"""

import json
import pathlib

import jsonschema

# Every command's report and both kinds of watch line, which every set of samples holds.
COMMANDS = {"list", "status", "set", "sync-time", "release", "watch"}
WATCH_LINES = {"arrival", "stopped"}


def load_validator(schema_path):
    """A validator for the schema in the file schema_path, the schema itself checked first."""
    schema = json.loads(pathlib.Path(schema_path).read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def check_documents(validator, paths, name=lambda path: path.name):
    """Reads each file of paths as one JSON document and validates it.

    Prints a FAIL line for a file that is not JSON and for every way a document breaks the schema,
    naming the file by name(path). Returns the documents read and the number of failures.
    """
    documents, failures = [], 0
    for path in paths:
        try:
            document = json.loads(path.read_text(encoding="utf-8"))
        except ValueError as error:
            failures += 1
            print(f"FAIL: {name(path)}: not JSON: {error}")
            continue
        documents.append(document)
        for error in validator.iter_errors(document):
            failures += 1
            where = "/".join(str(p) for p in error.absolute_path)
            print(f"FAIL: {name(path)}: at /{where}: {error.message[:300]}")
    return documents, failures


def check_coverage(documents, error_kinds):
    """Checks that the documents hold every command, both watch lines and the error kinds given.

    Prints a FAIL line for each of the three with something missing; returns how many there were.
    """
    expected = {"commands": COMMANDS, "error kinds": set(error_kinds), "watch lines": WATCH_LINES}
    seen = {"commands": set(), "error kinds": set(), "watch lines": set()}
    for document in documents:
        seen["commands"].add(document.get("command"))
        seen["watch lines"].add(document.get("event"))
        error = document.get("error") or (document.get("camera") or {}).get("error")
        if error:
            seen["error kinds"].add(error.get("kind"))
    failures = 0
    for what, wanted in expected.items():
        missing = wanted - seen[what]
        if missing:
            failures += 1
            print(f"FAIL: no sample of the {what} {sorted(missing)}")
    return failures
