#!/usr/bin/env python3
"""zelquin-cli under Wine: the real console program, in the build's Wine prefix.

    wine_cli_test.py WINE_RUN PREFIX ZELQUIN_CLI_EXE ZELQUIN_CLI_SIM_EXE WORK_FOLDER VERSION

zelquin-cli.exe meets no camera under Wine: its list, status and JSON must say so with the
no-camera exit code, and bad usage must give the usage code. zelquin-cli-sim.exe is the same
program on the simulated camera of a world file (docs/simulator.md): list, set with read-back,
sync-time, release --open and a watch that sets up a camera plugged in after it started (the world
file's notify line makes the program's windows hear of it), each checked by its output, its exit
code and the device calls in the trace. Standard library only.
"""

import json
import os
import pathlib
import subprocess
import sys
import time

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


class Wine:
    def __init__(self, wine_run, prefix, work):
        self.wine_run, self.prefix, self.work = wine_run, prefix, pathlib.Path(work)
        self.world = self.work / "world.txt"
        self.trace = self.work / "trace.txt"

    def environment(self):
        # Wine sees the Unix root as Z:.
        def windows(path):
            return "Z:" + str(path).replace("/", "\\")
        return {**os.environ, "ZELQUIN_SIM_WORLD": windows(self.world),
                "ZELQUIN_SIM_TRACE": windows(self.trace)}

    def command(self, exe, args):
        return ["sh", self.wine_run, self.prefix, exe, *args]

    def run(self, exe, *args):
        done = subprocess.run(self.command(exe, args), capture_output=True, timeout=120,
                              env=self.environment())
        return (done.returncode, done.stdout.decode("utf-8").replace("\r\n", "\n"),
                done.stderr.decode("utf-8", "replace").replace("\r\n", "\n"))

    def lay_out(self, text):
        self.world.write_text(text)
        self.trace.write_text("")

    def trace_lines(self):
        return [l for l in self.trace.read_text().splitlines() if not l.startswith("#")]


def expect_run(result, exit_code, out=None, err_has=(), what=""):
    code, stdout, stderr = result
    check(code == exit_code, f"{what}: exit code {code}, expected {exit_code}\n{stdout}{stderr}")
    if out is not None:
        check(stdout == out, f"{what}: standard output\n{stdout!r}\nexpected\n{out!r}")
    for fragment in err_has:
        check(fragment in stderr, f"{what}: standard error lacks {fragment!r}:\n{stderr}")


def product_without_camera(wine, exe, version):
    expect_run(wine.run(exe, "--version"), 0, "zelquin-cli " + version + "\n", what="--version")
    expect_run(wine.run(exe, "list"), 3, "", ["zelquin-cli: no camera found on D: to Z:"],
               what="list without a camera")
    expect_run(wine.run(exe, "status"), 3, "", ["no camera found"], what="status")
    code, out, err = wine.run(exe, "list", "--json")
    check(code == 3, f"list --json: exit code {code}")
    document = json.loads(out)
    check(document["schema"] == "zelquin-cli/1" and document["error"]["kind"] == "no-camera",
          f"list --json: {out}")
    check(err == "", f"list --json wrote to standard error: {err}")
    expect_run(wine.run(exe, "frobnicate"), 2, "", ["'frobnicate' is no command"], what="usage")
    expect_run(wine.run(exe, "set", "resolution=4k"), 2, "", ["'4k' is no value of resolution"],
               what="usage of set")


WORLD = """drive C fixed
drive D cdrom inquiry=5
camera E state=2 overwrite=1 timestamp=0 resolution=1 firmware=V1.0,.2024,B7
storage letter=F
"""


def simulated_camera(wine, exe):
    wine.lay_out(WORLD)
    expect_run(wine.run(exe, "list"), 0,
               "DRIVE  STATE  READY  FIRMWARE     OVERWRITE  TIMESTAMP  RESOLUTION\n"
               "E:     2      yes    V1.0.2024B7  on         off        720p\n", what="list")

    wine.lay_out(WORLD)
    expect_run(wine.run(exe, "set", "overwrite=off", "resolution=1080p"), 0,
               "E: overwrite=off confirmed\nE: resolution=1080p confirmed\n", what="set")
    cdbs = [l.split("cdb=")[1].split(" ->")[0] for l in wine.trace_lines() if "cdb=FA" in l]
    check(cdbs[1:] == ["FA 55 66 FE 06 00 00 02 00 00 00 00 00 00 00 00",
                       "FA 55 66 FE 60 00 00 02 00 00 00 00 00 00 00 00",
                       "FA 55 66 FE 06 00 00 01 00 00 00 00 00 00 00 00",
                       "FA 55 66 FE 60 00 00 01 00 00 00 00 00 00 00 00"],
          f"set: the commands sent\n{cdbs}")

    wine.lay_out(WORLD + "fault 2 check=0\n")
    expect_run(wine.run(exe, "set", "overwrite=off"), 6, "E: overwrite=off FAILED\n",
               ["the camera refused set loop recording (command 2): SCSI status 0x02"],
               what="set refused")

    wine.lay_out(WORLD)
    code, out, _ = wine.run(exe, "sync-time")
    check(code == 0 and out.startswith("E: clock set to "), f"sync-time: {code} {out}")
    sent = [l for l in wine.trace_lines() if "cdb=FA 55 66 FE 06 00 00 04" in l or
            "cdb=FA 55 66 FE 06 00 00 03" in l]
    check(len(sent) == 2 and "00 00 04" in sent[0], f"sync-time: date then time\n{sent}")

    # The volume is heard of as it arrives: the notify line announces it to the tool's window.
    wine.lay_out("notify\n" + WORLD)
    expect_run(wine.run(exe, "release", "--open"), 0, "F:\\\n", what="release --open")
    shells = [l for l in wine.trace_lines() if l.startswith("ShellExecuteW")]
    check(shells == ['ShellExecuteW operation=null file="explorer" parameters="F:\\" '
                     'directory=null show=5'], f"release --open: the file manager\n{shells}")

    wine.lay_out("notify\n" + WORLD.replace("storage letter=F", "storage letter=F vendor=none"))
    expect_run(wine.run(exe, "release", "--timeout", "1"), 8, "",
               ["E: the camera's storage volume did not appear within 1 s"],
               what="release without a volume")


def watch(wine, exe):
    wine.lay_out("notify\ndrive C fixed\n")
    process = subprocess.Popen(
        wine.command(exe, ["watch", "--sync-time", "--set", "overwrite=on", "--count", "1",
                           "--timeout", "60", "--json"]),
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=wine.environment())
    # Plug the camera in once the program has read its world.
    deadline = time.monotonic() + 60
    while "world file read" not in wine.trace.read_text() and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(1)
    wine.world.write_text("notify\ndrive C fixed\ncamera G state=2 overwrite=0\n")
    try:
        out, err = process.communicate(timeout=90)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
    lines = [json.loads(l) for l in out.decode().splitlines() if l.strip()]
    check(process.returncode == 0, f"watch: exit code {process.returncode}\n{out}{err}")
    if check(len(lines) == 2, f"watch: two JSON lines expected\n{out}"):
        camera = lines[0]["camera"]
        check(lines[0]["event"] == "arrival" and camera["drive"] == "G:", f"watch: {lines[0]}")
        check(camera["clock"] is not None and camera["changes"][0]["confirmed"],
              f"watch: the camera was not set up: {camera}")
        check(lines[1]["event"] == "stopped" and lines[1]["reason"] == "count",
              f"watch: {lines[1]}")
    check(any("DBT_DEVICEARRIVAL G:" in l for l in wine.trace.read_text().splitlines()),
          "watch: no arrival was announced")


def main():
    wine_run, prefix, product, simulated, work, version = sys.argv[1:7]
    pathlib.Path(work).mkdir(parents=True, exist_ok=True)
    wine = Wine(wine_run, prefix, work)
    product_without_camera(wine, product, version)
    simulated_camera(wine, simulated)
    watch(wine, simulated)
    for failure in failures:
        print("FAIL:", failure)
    print(f"zelquin-cli under Wine: {'ok' if not failures else f'{len(failures)} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
