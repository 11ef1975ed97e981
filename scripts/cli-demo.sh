#!/usr/bin/env bash
# The command-line tool, zelquin-cli.exe, under Wine on the virtual camera (docs/vcam.md): builds
# the Windows programs (win32 preset), starts the driver zqvcam.sys in a Wine prefix of its own
# (build/win32/cli-demo-prefix, set up by scripts/vcam_prefix.sh) and the camera service on a
# fresh world file, build/win32/cli-demo/world.txt: an optical drive D: that is no camera, and two
# cameras, E: (whose volume appears as F: after the release command) and G:.
#
#   scripts/cli-demo.sh             the session of docs/cli.md: list, set, status, sync-time, release
#                                   --open, a drive that is no camera, and a watch that sets up a
#                                   camera plugged in (by editing the world file) after it started
#   scripts/cli-demo.sh ARG...      runs zelquin-cli.exe ARG... once on the same world
#
# Each command is shown as typed, with its output (standard output and error, as a terminal shows
# them) and its exit code. The device calls that reached the service are in
# build/win32/cli-demo/trace.txt. The service and the prefix's Wine server end with the script.
# Where the machine runs no 32-bit program, all of it is the 64-bit build's, in build/win64
# (scripts/windows_arch.sh says so).
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
zq_script=cli-demo
. scripts/windows_arch.sh
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" >/dev/null

root=$PWD
vcam=$root/build/$arch/vcam
demo=$root/build/$arch/cli-demo
prefix=$root/build/$arch/cli-demo-prefix
tool=$root/build/$arch/cli/zelquin-cli.exe
world=$demo/world.txt
trace=$demo/trace.txt

computer='notify
drive C fixed
drive D cdrom inquiry=5
camera E state=2 overwrite=1 timestamp=0 resolution=1 firmware=V1.0,.2024,B7
camera G state=3 overwrite=0 timestamp=1 resolution=0 firmware=V1.1,.07,20240101
storage letter=F
'
# Writes the world file in one go: the service never reads half of it.
lay_out() {
    printf '%s' "$1" >"$world.new"
    mv "$world.new" "$world"
}

mkdir -p "$demo"
rm -f "$trace"
lay_out "$computer"
sh scripts/vcam_prefix.sh "$prefix" start "$vcam/zqvcam.sys" >/dev/null
service=
finish() {
    [ -n "$service" ] && kill -INT "$service" 2>/dev/null || true
    sleep 1
    sh scripts/vcam_prefix.sh "$prefix" stop
}
trap finish EXIT
sh scripts/vcam_prefix.sh "$prefix" serve "$vcam/zqvcam-service.exe" "$world" "$trace" \
    </dev/null >"$demo/service.log" 2>&1 &
service=$!
if ! sh scripts/vcam_prefix.sh "$prefix" ready "$trace"; then
    echo "cli-demo: the camera service did not start; see $demo/service.log" >&2
    exit 1
fi

# Runs the tool with the arguments given, as a terminal shows it, then its exit code.
cli() {
    echo "\$ wine zelquin-cli.exe $*"
    # Into a file, not a pipe: the file manager that release --open starts inherits it and
    # keeps it open.
    local code=0
    sh scripts/vcam_prefix.sh "$prefix" run "$tool" "$@" </dev/null >"$demo/cli.out" 2>&1 ||
        code=$?
    tr -d '\r' <"$demo/cli.out"
    echo "\$ echo \$?"
    echo "$code"
}

if [ $# -gt 0 ]; then
    cli "$@"
    exit 0
fi

echo "\$ cat world.txt"
printf '%s' "$computer"
cli list
cli set --drive G: overwrite=on resolution=720p
cli status --drive G:
cli sync-time --all
cli release --open
cli status --drive D:

# The watch starts with no camera on H:; the world file then plugs one in, as often as it takes for
# the watch (which has just started) to hear it.
echo "\$ wine zelquin-cli.exe watch --sync-time --count 1 --timeout 60 &"
output=$demo/watch.out
sh scripts/vcam_prefix.sh "$prefix" run "$tool" watch --sync-time --count 1 --timeout 60 \
    </dev/null >"$output" 2>&1 &
watch=$!
echo "# a third camera plugged in: the line \"camera H\" added to world.txt"
for _ in $(seq 1 10); do
    sleep 2
    lay_out "${computer}camera H
"
    for _ in $(seq 1 25); do
        kill -0 "$watch" 2>/dev/null || break
        sleep 0.2
    done
    kill -0 "$watch" 2>/dev/null || break
    lay_out "$computer"
done
code=0
wait "$watch" || code=$?
tr -d '\r' <"$output"
echo "\$ wait; echo \$?"
echo "$code"
