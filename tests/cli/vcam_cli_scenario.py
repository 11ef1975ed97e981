#!/usr/bin/env python3
"""One scenario of the real zelquin-cli.exe on the virtual camera, and its JSON checked.

    vcam_cli_scenario.py VCAM_PREFIX_SH PREFIX SCHEMA SCENARIO -- TEST_EXE [ARG...]

Runs TEST_EXE (cli_vcam_tests.exe) with --gtest_filter=CliOnVcam.SCENARIO in the virtual camera's
Wine prefix (scripts/vcam_prefix.sh PREFIX run), its last argument being the work folder. The
scenario keeps every JSON document the tool wrote in WORK/SCENARIO.N/json/; each one is then
validated against the schema (docs/zelquin-cli.schema.json, with python3-jsonschema), and a
scenario that kept none fails: every scenario reads the tool's JSON at least once.
"""

import pathlib
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
import cli_json  # noqa: E402  (the schema check the tool's JSON checks share)


def main():
    script, prefix, schema_path, scenario, separator, *command = sys.argv[1:]
    if separator != "--" or not command:
        print(__doc__)
        return 2
    work = pathlib.Path(command[-1])
    for old in work.glob(scenario + ".*"):
        shutil.rmtree(old, ignore_errors=True)

    run = subprocess.run(["sh", script, prefix, "run", command[0],
                          f"--gtest_filter=CliOnVcam.{scenario}", *command[1:]], check=False)
    if run.returncode != 0:
        print(f"FAIL: the scenario {scenario} failed (status {run.returncode})")
        return 1

    validator = cli_json.load_validator(schema_path)
    documents = sorted(work.glob(scenario + ".*/json/*.json"))
    _, failures = cli_json.check_documents(validator, documents, name=str)
    if not documents:
        failures += 1
        print(f"FAIL: the scenario {scenario} kept no JSON document in {work}")
    print(f"{len(documents)} JSON documents of {scenario} checked against "
          f"{pathlib.Path(schema_path).name}: {'ok' if not failures else f'{failures} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
