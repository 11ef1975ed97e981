# Which Windows build a script that runs the programs under Wine uses; sourced by scripts/run.sh,
# scripts/cli-demo.sh and scripts/screenshot.sh, with the script's name as $zq_script.
#
# ZQ_ARCH=win32 or ZQ_ARCH=win64 chooses outright. Otherwise the product's own build, win32, where
# this machine can start 32-bit programs (scripts/can_run_32bit.py starts one), and where it cannot
# (32-bit Wine fails there with "Exec format error") the same programs built for x86_64, win64,
# under 64-bit Wine, said in one line. Sets `arch` and exports ZQ_WINEARCH for the Wine scripts
# (scripts/wine_env.sh).

arch=${ZQ_ARCH:-}
if [ -z "$arch" ]; then
    arch=win32
    if ! zq_probe=$(python3 "$(dirname "${BASH_SOURCE[0]}")/can_run_32bit.py"); then
        arch=win64
        echo "$zq_script: ${zq_probe#no: }, so 32-bit Wine cannot run the 32-bit programs;" \
            "running their 64-bit build (build/win64) under 64-bit Wine instead."
    fi
fi
case "$arch" in
win32 | win64) ;;
*)
    echo "$zq_script: ZQ_ARCH is win32 or win64, not '$arch'" >&2
    exit 2
    ;;
esac
export ZQ_WINEARCH=$arch
