#!/bin/sh
# The Wine prefix of the virtual camera (docs/vcam.md), shared by the test command and the run
# command: a prefix of its own with a persistent Wine server (a kernel driver is unloaded with the
# server's last program otherwise) and the driver zqvcam.sys installed and running.
#
#   vcam_prefix.sh PREFIX start DRIVER_SYS [managed]
#                                            make the prefix when missing (tests/app/wine_run.sh
#                                            setup), restart its Wine server as a persistent one,
#                                            install the driver (service zqvcam, kernel, started
#                                            on demand) and start it; with `managed`, the prefix's
#                                            windows are left to the display's window manager
#                                            (for a person at a desktop), otherwise Wine manages
#                                            them itself (what the tests need on their displays)
#   vcam_prefix.sh PREFIX run PROGRAM [ARG]  run a Windows program there; its status is the script's
#   vcam_prefix.sh PREFIX serve SERVICE_EXE WORLD TRACE [OPTION...]
#                                            run the camera service there on the world file WORLD,
#                                            tracing to TRACE (both Unix paths), with the service's
#                                            options given; started in the background by the caller,
#                                            which keeps its process id to end it
#   vcam_prefix.sh PREFIX ready TRACE        wait (20 s at most) until the service tracing to TRACE
#                                            has said it is ready; fails when it has not
#   vcam_prefix.sh PREFIX stop               end the prefix's Wine server (the driver with it) and
#                                            the private display
#
# ZQ_WINEARCH (win32 or win64) tells the programs' architecture, that of the driver with them;
# scripts/wine_env.sh picks the Wine that runs them.
#
# Windows need an X display: DISPLAY when it is set; otherwise `start` starts a private Xvfb for
# the prefix (its number and process id kept in PREFIX.display) and `run` uses it.
#
# Every Wine call that may start the prefix's lasting processes (services.exe, winedevice.exe)
# writes to PREFIX.log, never to a pipe: those processes keep what they inherit open.
set -eu

prefix=$1
shift
case "$prefix" in
/*) ;;
*) prefix="$PWD/$prefix" ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$prefix"
. "$here/wine_env.sh"
log="$prefix.log"
display_file="$prefix.display"

# Uses DISPLAY, else the private display when it is still there; answers false without one.
use_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    if [ -f "$display_file" ]; then
        read -r number pid <"$display_file"
        if kill -0 "$pid" 2>/dev/null; then
            export DISPLAY=":$number"
            return 0
        fi
    fi
    return 1
}

start_display() {
    number=90
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo "$number $!" >"$display_file"
    for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$number" ] && break
        sleep 0.1
    done
    export DISPLAY=":$number"
}

# A Unix path as the prefix's programs take it: /work/x is Z:\work\x.
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}

# Runs a Windows program in the prefix in place of this script, on its display.
run_program() {
    if ! use_display; then
        echo "vcam_prefix: no X display; start the prefix first" >&2
        exit 1
    fi
    exec "$zq_wine" "$@"
}

case "$1" in
start)
    driver=$2
    mkdir -p "$(dirname "$prefix")"
    use_display || start_display
    : >"$log"
    # A clean start: the prefix's own server goes, with every program of the prefix.
    wineserver -k </dev/null >>"$log" 2>&1 || true
    sh "$here/../tests/app/wine_run.sh" "$prefix" setup </dev/null >>"$log" 2>&1
    if [ "${3:-}" = managed ]; then
        "$zq_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f </dev/null >>"$log" 2>&1
    fi
    wineserver -k </dev/null >>"$log" 2>&1 || true
    wineserver -p </dev/null >>"$log" 2>&1
    cp "$driver" "$prefix/drive_c/windows/system32/drivers/zqvcam.sys"
    "$zq_wine" sc create zqvcam type= kernel start= demand \
        binPath= 'C:\windows\system32\drivers\zqvcam.sys' </dev/null >>"$log" 2>&1 || true
    "$zq_wine" sc start zqvcam </dev/null >>"$log" 2>&1 || true
    "$zq_wine" sc query zqvcam </dev/null >"$prefix.query" 2>>"$log" || true
    if ! grep -q RUNNING "$prefix.query"; then
        echo "vcam_prefix: the driver zqvcam did not start; see $log" >&2
        exit 1
    fi
    echo "vcam_prefix: driver zqvcam running in $prefix (display $DISPLAY)"
    ;;
run)
    shift
    run_program "$@"
    ;;
serve)
    service=$2
    world=$3
    trace=$4
    shift 4
    run_program "$service" --world "$(windows_path "$world")" --trace "$(windows_path "$trace")" "$@"
    ;;
ready)
    for _ in $(seq 1 100); do
        grep -q '^# zqvcam-service: ready$' "$2" 2>/dev/null && exit 0
        sleep 0.2
    done
    grep -q '^# zqvcam-service: ready$' "$2" 2>/dev/null
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -f "$display_file" ]; then
        read -r number pid <"$display_file"
        kill "$pid" 2>/dev/null || true
        rm -f "$display_file"
    fi
    ;;
*)
    echo "usage: vcam_prefix.sh PREFIX start DRIVER_SYS [managed] | run PROGRAM [ARG...] |" \
        "serve SERVICE_EXE WORLD TRACE [OPTION...] | ready TRACE | stop" >&2
    exit 2
    ;;
esac
