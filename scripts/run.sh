#!/usr/bin/env bash
# Builds the Windows programs (win32 preset) and starts the product itself, Zelquin.exe, under
# Wine on the virtual camera (docs/vcam.md): the driver zqvcam.sys in a Wine prefix of the demo's
# own (build/win32/demo-prefix, set up by scripts/vcam_prefix.sh) and the camera service playing
# the world file build/win32/vcam/world.txt (a copy of docs/example-world.txt, made when there is
# none). Each run starts a fresh trace, build/win32/vcam/trace.txt; the service's notes (a world
# file that was not taken and why, the letters it announces) also appear in this terminal.
#
# On a machine that cannot start 32-bit programs (scripts/can_run_32bit.py tells), 32-bit Wine
# cannot run the product: the script then says so in one line and runs the same program built for
# x86_64 (win64 preset, build/win64/...) under 64-bit Wine instead. ZQ_ARCH=win32 or ZQ_ARCH=win64
# chooses the build outright.
#
# With an X display (DISPLAY set) the panel opens there, its window left to the desktop's window
# manager, and the script ends when it is closed. Run again while the panel is open, the script
# starts a second panel on the same virtual camera (a second copy of the program on one computer,
# as Windows allows) and, when xdotool is installed, moves it down and to the right of the first
# (as cascaded windows are) rather than on it; the demo then ends with its last panel.
#
# Without a display the panel runs on a private virtual display just long enough for a picture of
# it, written to build/win32/zelquin.png, and the script ends. Either way the service and the
# prefix's Wine server end with it.
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

zq_script=run
. scripts/windows_arch.sh

cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch"

root=$PWD
build=$root/build/$arch
vcam=$build/vcam
prefix=$build/demo-prefix
world=$vcam/world.txt
trace=$vcam/trace.txt
owner_file=$vcam/demo.pid  # the run that started the service and owns the demo
panels=$vcam/panels        # one file per panel that a later run started, named by its process
if [ ! -f "$world" ]; then
    cp docs/example-world.txt "$world"
fi
# The panels now on the screen (mapped: a panel's window exists, hidden, while it starts up).
panel_windows() {
    xdotool search --onlyvisible --name '^OSTRAVEL QXM V1\.1$' 2>/dev/null | sort || true
}

# ---- a second panel on the demo that is running ----

owner=
[ -f "$owner_file" ] && read -r owner <"$owner_file"
if [ -n "$owner" ] && [ "$owner" != $$ ] && kill -0 "$owner" 2>/dev/null; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "run: the demo is already running (run.sh, process $owner); it needs no second" \
            "picture" >&2
        exit 1
    fi
    echo "The demo is already running (run.sh, process $owner): starting a second panel on the"
    echo "same virtual camera, as a second copy of the program on one computer."
    before=
    command -v xdotool >/dev/null && before=$(panel_windows)
    sh scripts/vcam_prefix.sh "$prefix" run "$build/app/Zelquin.exe" </dev/null &
    panel=$!
    mkdir -p "$panels"
    touch "$panels/$panel"
    trap 'kill "$panel" 2>/dev/null || true; rm -f "$panels/$panel"' EXIT
    if command -v xdotool >/dev/null; then
        # Both panels centre themselves on the screen when they start; once the new one is shown,
        # put it down and to the right of the first, so that each can be seen.
        first=$(head -n 1 <<<"$before")
        new=
        for _ in $(seq 1 300); do
            new=$(comm -13 <(echo "$before") <(panel_windows) | head -n 1)
            [ -n "$new" ] && break
            sleep 0.2
        done
        if [ -n "$first" ] && [ -n "$new" ]; then
            eval "$(xdotool getwindowgeometry --shell "$first")"
            xdotool windowmove --sync "$new" $((X + 48)) $((Y + 48)) >/dev/null 2>&1 || true
        fi
    else
        echo "(without xdotool the second panel opens on top of the first; move it aside)"
    fi
    wait "$panel" || true
    exit 0
fi

# ---- the demo: prefix, driver, service, panel ----

if [ -n "${DISPLAY:-}" ]; then
    sh scripts/vcam_prefix.sh "$prefix" start "$vcam/zqvcam.sys" managed
else
    sh scripts/vcam_prefix.sh "$prefix" start "$vcam/zqvcam.sys"
fi
echo $$ >"$owner_file"
rm -rf "$panels"
service=
panel=
interrupted=
finish() {
    [ -n "$panel" ] && kill "$panel" 2>/dev/null || true
    # Panels that later runs started on this demo go on until they are closed, unless the demo
    # itself was interrupted: then they go with it.
    local waited=
    for file in "$panels"/*; do
        [ -e "$file" ] || continue
        if [ -n "$interrupted" ]; then
            kill "$(basename "$file")" 2>/dev/null || true
            continue
        fi
        while kill -0 "$(basename "$file")" 2>/dev/null; do
            [ -n "$waited" ] || echo "run: waiting for the other panel to be closed"
            waited=1
            sleep 1
        done
    done
    [ -n "$service" ] && kill -INT "$service" 2>/dev/null || true
    sleep 1
    sh scripts/vcam_prefix.sh "$prefix" stop
    rm -rf "$owner_file" "$panels"
}
trap finish EXIT
trap 'interrupted=1; exit 130' INT TERM

rm -f "$trace"
if [ -n "${DISPLAY:-}" ]; then
    # The service's notes go to this terminal as well as to the trace.
    sh scripts/vcam_prefix.sh "$prefix" serve "$vcam/zqvcam-service.exe" "$world" "$trace" \
        --echo notes </dev/null &
else
    sh scripts/vcam_prefix.sh "$prefix" serve "$vcam/zqvcam-service.exe" "$world" "$trace" \
        </dev/null >"$vcam/service.log" 2>&1 &
fi
service=$!
if ! sh scripts/vcam_prefix.sh "$prefix" ready "$trace"; then
    echo "run: the camera service did not start; see $vcam/service.log" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ]; then
    echo "No X display: taking a picture of the panel on a virtual display instead."
    sh scripts/vcam_prefix.sh "$prefix" run "$build/app/Zelquin.exe" \
        </dev/null >/dev/null 2>&1 &
    panel=$!
    read -r number _ <"$prefix.display"
    window=
    for _ in $(seq 1 300); do
        window=$(DISPLAY=":$number" xwininfo -root -tree |
            awk '/"OSTRAVEL QXM V1.1":/ {print $1; exit}')
        [ -n "$window" ] && break
        sleep 0.2
    done
    if [ -z "$window" ]; then
        echo "run: the control panel did not appear" >&2
        exit 1
    fi
    # The window is shown once its start-up (the connection included) has finished; the clock
    # shows the time from its first tick, a second later.
    sleep 2
    DISPLAY=":$number" import -window "$window" -strip "PNG8:$build/zelquin.png"
    echo "run: build/$arch/zelquin.png; the device calls are in $trace"
    exit 0
fi

cat <<EOF
Starting Zelquin.exe on the virtual camera.
  world file: $world
              (edit it while the panel runs: remove the camera line to unplug the camera, put
              it back to plug it in again; docs/simulator.md and docs/vcam.md tell the rest)
  trace:      $trace (a fresh one each run; the service's notes also appear here)
Close the panel's window to end. Run this script again meanwhile for a second panel.
EOF
sh scripts/vcam_prefix.sh "$prefix" run "$build/app/Zelquin.exe" </dev/null &
panel=$!
wait "$panel" || true
panel=
