#!/usr/bin/env bash
# Takes a picture of the control panel connected to the simulated camera: builds Zelquin-sim.exe
# (win32 preset), starts it under Wine on a private virtual X display with a world file, waits for
# the panel and its clock, and writes the picture of the panel's window.
#
#   scripts/screenshot.sh [OUTPUT.png [WORLD_FILE]]
#
# Defaults: docs/screenshot.png (the README's picture) and docs/example-world.txt. The program's
# trace goes to build/win32/screenshot-trace.txt. Needs Wine, Xvfb, x11-utils and ImageMagick. Where
# the machine runs no 32-bit program, the picture is of the 64-bit build (build/win64), said in
# one line (scripts/windows_arch.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

zq_script=screenshot
if [ "${1:-}" = --on-display ]; then
    arch=$ZQ_WINEARCH  # chosen by the first half
else
    . scripts/windows_arch.sh
fi
root=$PWD
build=$root/build/$arch
prefix=$build/wineprefix
exe=$build/app/Zelquin-sim.exe
caption="OSTRAVEL QXM V1.1"

if [ "${1:-}" = --on-display ]; then
    # Second half, on the virtual display: $2 output, $3 world file.
    output=$2
    world=$3
    sh tests/app/wine_run.sh "$prefix" setup
    export WINEPREFIX=$prefix
    . scripts/wine_env.sh
    export ZELQUIN_SIM_WORLD="Z:$world" ZELQUIN_SIM_TRACE="Z:$build/screenshot-trace.txt"
    rm -f "$build/screenshot-trace.txt"
    "$zq_wine" "$exe" &
    program=$!
    # Whatever happens, the program and the prefix's Wine server go before the display does.
    trap 'kill "$program" 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
    window=
    for _ in $(seq 1 300); do
        window=$(xwininfo -root -tree | awk -v name="\"$caption\":" 'index($0, name) {print $1; exit}')
        if [ -n "$window" ]; then
            break
        fi
        sleep 0.2
    done
    status=0
    if [ -z "$window" ]; then
        echo "screenshot: the control panel did not appear" >&2
        status=1
    else
        # The window is shown once its start-up (the connection included) has finished; the
        # clock shows the time from its first tick, a second later.
        sleep 2
        import -window "$window" -strip "PNG8:$output"
        echo "screenshot: $output ($(stat -c %s "$output") bytes)"
    fi
    exit $status
fi

output=$(realpath -m "${1:-docs/screenshot.png}")
world=$(realpath "${2:-docs/example-world.txt}")
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" --target Zelquin-sim
mkdir -p "$(dirname "$output")"
xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" --on-display "$output" "$world"
