#!/usr/bin/env python3
"""Checks the tool's JSON output against docs/zelquin-cli.schema.json.

    json_schema_check.py CLI_TESTS SCHEMA SAMPLE_FOLDER

Runs the tool's GoogleTest program with ZQ_CLI_JSON_SAMPLES set, so that every JSON document its
tests parse (each command's, each kind of error, the watch's lines) is also written to
SAMPLE_FOLDER; then validates every one of them against the schema, and checks that the samples
cover every command, every error kind that the tests make and every watch line. Needs
python3-jsonschema.
"""

import pathlib
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
import cli_json  # noqa: E402  (the schema check the tool's JSON checks share)

# Every error kind the tests make.
ERROR_KINDS = {"no-camera", "not-ready", "system-error", "refused", "mismatch", "no-volume"}


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

    validator = cli_json.load_validator(schema_path)
    samples = sorted(folder.glob("*.json"))
    documents, failures = cli_json.check_documents(validator, samples)
    failures += cli_json.check_coverage(documents, ERROR_KINDS)

    print(f"{len(samples)} JSON documents checked against {schema_path.name}: "
          f"{'ok' if not failures else f'{failures} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
