#!/usr/bin/env bash
# Builds the Windows programs (win32 preset) and starts the product itself, Zelquin.exe, under
# Wine on the virtual camera (docs/vcam.md): the driver zqvcam.sys in a Wine prefix of its own
# (scripts/vcam_prefix.sh) and the camera service playing the world file
# build/win32/vcam/world.txt (a copy of docs/example-world.txt, made when there is none), with
# its trace in build/win32/vcam/trace.txt.
#
# With an X display (DISPLAY set) the panel opens there and the script ends when it is closed.
# Without one the panel runs on a private virtual display just long enough for a picture of it,
# written to build/win32/zelquin.png, and the script ends. Either way the service and the
# prefix's Wine server end with it.
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

cmake --preset win32
cmake --build --preset win32

root=$PWD
vcam=$root/build/win32/vcam
prefix=$root/build/win32/vcam-prefix
world=$vcam/world.txt
trace=$vcam/trace.txt
if [ ! -f "$world" ]; then
    cp docs/example-world.txt "$world"
fi
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}

sh scripts/vcam_prefix.sh "$prefix" start "$vcam/zqvcam.sys"
service=
panel=
finish() {
    [ -n "$panel" ] && kill "$panel" 2>/dev/null || true
    [ -n "$service" ] && kill -INT "$service" 2>/dev/null || true
    sleep 1
    sh scripts/vcam_prefix.sh "$prefix" stop
}
trap finish EXIT

rm -f "$trace"
sh scripts/vcam_prefix.sh "$prefix" run "$vcam/zqvcam-service.exe" \
    --world "$(windows_path "$world")" --trace "$(windows_path "$trace")" \
    </dev/null >"$vcam/service.log" 2>&1 &
service=$!
for _ in $(seq 1 100); do
    grep -q '^# zqvcam-service: ready$' "$trace" 2>/dev/null && break
    sleep 0.2
done
if ! grep -q '^# zqvcam-service: ready$' "$trace" 2>/dev/null; then
    echo "run: the camera service did not start; see $vcam/service.log" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}" ]; then
    echo "No X display: taking a picture of the panel on a virtual display instead."
    sh scripts/vcam_prefix.sh "$prefix" run "$root/build/win32/app/Zelquin.exe" \
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
    DISPLAY=":$number" import -window "$window" -strip "PNG8:$root/build/win32/zelquin.png"
    echo "run: build/win32/zelquin.png; the device calls are in $trace"
    exit 0
fi

cat <<EOF
Starting Zelquin.exe on the virtual camera.
  world file: $world
              (edit it while the panel runs: remove the camera line to unplug the camera, put
              it back to plug it in again; docs/simulator.md and docs/vcam.md tell the rest)
  trace:      $trace
Close the panel's window to end.
EOF
sh scripts/vcam_prefix.sh "$prefix" run "$root/build/win32/app/Zelquin.exe" </dev/null
