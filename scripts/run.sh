#!/usr/bin/env bash
# Builds the Windows programs (win32 preset) and starts the control panel on the simulated camera:
# Zelquin-sim.exe under Wine, with the world file zelquin-sim.txt beside it (a copy of
# docs/example-world.txt, made when there is none) and its trace zelquin-sim-trace.txt beside it.
#
# With an X display (DISPLAY set) the panel opens there and the script ends when it is closed.
# Without one the panel runs on a private virtual display just long enough for a picture of it,
# written to build/win32/zelquin-sim.png, and the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

cmake --preset win32
cmake --build --preset win32

app=$PWD/build/win32/app
world=$app/zelquin-sim.txt
if [ ! -f "$world" ]; then
    cp docs/example-world.txt "$world"
fi

if [ -z "${DISPLAY:-}" ]; then
    echo "No X display: taking a picture of the panel on a virtual display instead."
    exec scripts/screenshot.sh "$PWD/build/win32/zelquin-sim.png" "$world"
fi

prefix=$PWD/build/win32/wineprefix
sh tests/app/wine_run.sh "$prefix" setup
cat <<EOF
Starting the control panel on the simulated camera.
  world file: $world
              (edit it while the panel runs: remove the camera line to unplug the camera, put
              it back to plug it in again; docs/simulator.md tells the rest)
  trace:      $app/zelquin-sim-trace.txt
Close the panel's window to end.
EOF
exec sh tests/app/wine_run.sh "$prefix" "$app/Zelquin-sim.exe"
