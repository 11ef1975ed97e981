#!/bin/sh
# Runs Windows programs under Wine in a prefix of the build's own.
#
#   wine_run.sh PREFIX setup              make the prefix, once: windows unmanaged, the fonts of
#                                         the fonts-wine package linked in when it is installed;
#                                         then start the prefix's Wine server for the test run,
#                                         and its first program
#   wine_run.sh PREFIX stop               end the prefix's Wine server
#   wine_run.sh PREFIX PROGRAM [ARG...]   run PROGRAM, making the prefix first if there is none;
#                                         its exit status is the script's
#
# ZQ_WINEARCH (win32 or win64) tells the programs' architecture; scripts/wine_env.sh picks the Wine
# that runs them.
#
# The Windows test programs are ctest's cross-compiling emulator: ctest lists their cases through
# this script when it starts, before any fixture has run, and runs each case through it. The
# programs end their lines with CR LF; the script hands their output on with LF only, as ctest's
# reading of the case list expects, once the program has ended.
#
# Windows need an X display. Without DISPLAY the script runs itself under xvfb-run and ends the
# prefix's Wine server before the private display goes.
set -eu

prefix=$1
shift
case "$prefix" in
/*) ;;
*) prefix="$PWD/$prefix" ;;
esac
export WINEPREFIX="$prefix"
. "$(dirname "$0")/../../scripts/wine_env.sh"

if [ -z "${DISPLAY:-}" ] && [ "$1" != stop ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
        status=0
        sh "$0" "$@" || status=$?
        WINEPREFIX="$1" wineserver -k 2>/dev/null || true
        exit $status' "$0" "$prefix" "$@"
fi

setup() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$zq_wine" wineboot -i
        wineserver -w
    fi
    # Windows of their own, not left to a window manager: without one, Wine would wait for it
    # each time a window goes. A program that crashes ends with a backtrace on stderr instead of
    # a crash dialog that nobody closes.
    if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" ||
        ! grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg"; then
        "$zq_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
        "$zq_wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
        wineserver -w
    fi
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
        for font in /usr/share/wine/fonts/*; do
            [ -e "$fonts/$(basename "$font")" ] || ln -s "$font" "$fonts/"
        done
    fi
}

case "$1" in
setup)
    setup
    # One Wine server for the whole run, instead of a server and Wine's own processes started
    # afresh for each test case: it stays until "stop" (the fixture's cleanup). A server that ends
    # when idle (as it did after 60 s) comes and goes during a run whenever the prefix's tests
    # pause (while the virtual camera's run in their own prefix): the next program then starts a
    # new server and Wine's own processes again, or meets them while they shut down. The first
    # program is started here, so that no test is the first program of its server.
    wineserver -k 2>/dev/null || true
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    "$zq_wine" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    wineserver -k 2>/dev/null || true
    ;;
*)
    [ -f "$WINEPREFIX/system.reg" ] || setup >&2
    # The program's output goes through files, handed on once it has ended: Wine's own processes,
    # which the first program starts and which outlive it, inherit its standard streams and would
    # hold ctest's pipes open until the Wine server ends.
    out=$(mktemp)
    err=$(mktemp)
    status=0
    "$zq_wine" "$@" </dev/null >"$out" 2>"$err" || status=$?
    tr -d '\r' <"$out"
    tr -d '\r' <"$err" >&2
    rm -f "$out" "$err"
    exit "$status"
    ;;
esac
