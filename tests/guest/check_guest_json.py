#!/usr/bin/env python3
"""Checks the JSON that zelquin-cli wrote in the guest against docs/zelquin-cli.schema.json.

    check_guest_json.py SCHEMA FOLDER

FOLDER is the results folder's json/ folder, one document per file, kept by the guest scenarios
that ran the tool with --json (guest::KeepJson). Every document must validate against the schema,
and together they must hold every command, the error kinds the scenarios provoke and both kinds of
watch line, so that a scenario that stopped writing JSON does not pass unnoticed. Needs
python3-jsonschema.
"""

import pathlib
import sys

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "cli"))
import cli_json  # noqa: E402  (the schema check the tool's JSON checks share)

# The error kinds the guest scenarios provoke.
ERROR_KINDS = {"no-camera", "not-ready", "system-error", "refused"}


def main():
    schema_path, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    validator = cli_json.load_validator(schema_path)

    samples = sorted(folder.glob("*.json")) if folder.is_dir() else []
    if not samples:
        print(f"FAIL: no JSON documents in {folder}; did the guest scenarios run?")
        return 1
    documents, failures = cli_json.check_documents(validator, samples)
    failures += cli_json.check_coverage(documents, ERROR_KINDS)
    print(f"{len(samples)} JSON documents from the guest checked against {schema_path.name}: "
          f"{'ok' if not failures else f'{failures} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
