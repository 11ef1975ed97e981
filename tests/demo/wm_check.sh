#!/usr/bin/env bash
# The demo as a person meets it: ./scripts/run.sh on a display with a window manager (openbox on
# a private Xvfb), driven through the keyboard with xdotool.
#
#   - the panel comes up connected and takes the keyboard: Space on its first button (Sync with PC
#     Time) opens the confirmation box, Enter closes it;
#   - after the box the keyboard still reaches the panel: Space opens a box again;
#   - run.sh started a second time opens a second panel down and to the right of the first;
#   - Alt+F4 closes each panel, and run.sh ends with its last one.
#
# Needs Xvfb, openbox and xdotool. Exit status 0 when all of that holds. ZQ_ARCH (win32 or win64)
# is run.sh's: the build whose programs the demo runs; unset, run.sh chooses by the machine.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d "${TMPDIR:-/tmp}/zq-wm-check.XXXXXX")
number=120
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
    number=$((number + 1))
done
Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$number"
for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$number" ] && break
    sleep 0.1
done
openbox >/dev/null 2>&1 &
wm=$!
first=
second=
cleanup() {
    for pid in $second $first; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $second $first; do
        wait "$pid" 2>/dev/null || true
    done
    kill "$wm" "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "wm_check: $*" >&2
    echo "--- run.sh output:" >&2
    cat "$work"/run*.log >&2 || true
    exit 1
}
# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
panels() { xdotool search --name '^OSTRAVEL QXM V1\.1$' 2>/dev/null | sort || true; }
boxes() { xdotool search --name '^Ostravel V1\.1$' 2>/dev/null | wc -l; }
focused() { xdotool getwindowfocus 2>/dev/null || true; }
has_panels() { [ "$(panels | wc -l)" -ge "$1" ]; }
has_boxes() { [ "$(boxes)" -eq "$1" ]; }
focus_is() { [ "$(focused)" = "$1" ]; }
running() { kill -0 "$1" 2>/dev/null; }
not_running() { ! kill -0 "$1" 2>/dev/null; }

./scripts/run.sh >"$work/run1.log" 2>&1 &
first=$!
wait_for 1200 has_panels 1 || fail "the panel did not appear"
panel=$(panels | head -n 1)
# The panel is shown once it has connected; give the window manager a moment to map it.
sleep 2
xdotool windowactivate --sync "$panel" || fail "the panel could not be activated"
wait_for 50 focus_is "$panel" || fail "the panel did not take the focus"

xdotool key space
wait_for 100 has_boxes 1 || fail "Space on the panel opened no box"
xdotool key Return
wait_for 100 has_boxes 0 || fail "Enter did not close the box"
wait_for 50 focus_is "$panel" || fail "after the box the focus went elsewhere: $(focused)"
xdotool key space
wait_for 100 has_boxes 1 || fail "after a box the keyboard no longer reached the panel"
xdotool key Return
wait_for 100 has_boxes 0 || fail "Enter did not close the second box"
echo "wm_check: the keyboard works on the panel before and after a message box"

./scripts/run.sh >"$work/run2.log" 2>&1 &
second=$!
wait_for 600 has_panels 2 || fail "a second run.sh opened no second panel"
other=$(panels | grep -vx "$panel" | head -n 1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$panel")"
first_x=$X first_y=$Y
first_at="$X,$Y"
eval "$(xdotool getwindowgeometry --shell "$other")"
[ "$X" -gt "$first_x" ] && [ "$Y" -gt "$first_y" ] ||
    fail "the second panel, at $X,$Y, is not down and to the right of the first, at $first_at"
echo "wm_check: the second panel is at $X,$Y, the first at $first_at"

xdotool windowactivate --sync "$other" && wait_for 50 focus_is "$other" ||
    fail "the second panel could not be activated"
xdotool key alt+F4
wait_for 100 not_running "$second" || fail "Alt+F4 did not close the second panel"
running "$first" || fail "closing the second panel ended the first"
xdotool windowactivate --sync "$panel" && wait_for 50 focus_is "$panel" ||
    fail "the first panel could not be activated again"
xdotool key alt+F4
wait_for 150 not_running "$first" || fail "Alt+F4 did not close the panel, or run.sh went on"
wait "$first" || fail "run.sh ended with an error"
first=
second=
echo "wm_check: Alt+F4 closed each panel and run.sh ended with the last"
