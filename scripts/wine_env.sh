# Which Wine runs the Windows programs of a prefix; sourced by every script that runs them
# (tests/app/wine_run.sh, scripts/vcam_prefix.sh, scripts/screenshot.sh, ...).
#
# In:  WINEPREFIX; ZQ_WINEARCH, the programs' architecture: win32 (the product, i686) or win64
#      (x86_64). The build's tests pass it. When it is unset, an existing prefix keeps the
#      architecture it was made with, and a new one is win32.
# Out: WINEARCH, WINEDEBUG and WINEDLLOVERRIDES exported; zq_wine, the command that starts a
#      program in the prefix (its arguments follow it, as for `wine`).
#
# A win64 prefix is started with Wine's 64-bit loader itself. Debian's `wine` starts the 32-bit
# loader whenever wine32 is installed, and on a machine that cannot run 32-bit code (see
# scripts/can_run_32bit.py) that fails with "Exec format error" before any Windows code runs.

if [ -z "${ZQ_WINEARCH:-}" ]; then
    if [ -f "$WINEPREFIX/system.reg" ] && grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; then
        ZQ_WINEARCH=win64
    else
        ZQ_WINEARCH=win32
    fi
fi
case "$ZQ_WINEARCH" in
win32)
    zq_wine=wine
    ;;
win64)
    if command -v wine64 >/dev/null 2>&1; then
        zq_wine=wine64
    elif [ -x /usr/lib/wine/wine64 ]; then
        zq_wine=/usr/lib/wine/wine64
    else
        zq_wine=wine
    fi
    ;;
*)
    echo "wine_env: ZQ_WINEARCH is win32 or win64, not '$ZQ_WINEARCH'" >&2
    exit 2
    ;;
esac
export ZQ_WINEARCH
export WINEARCH="$ZQ_WINEARCH"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
