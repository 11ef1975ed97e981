#!/usr/bin/env bash
# Builds and runs every test: the native core suite against the simulated camera (plain, then
# under ASan and UBSan), the deterministic fuzz gate, a Release build as a user types it (native,
# with its suite, and for win32), then the Windows builds and their tests under Wine on a virtual
# X display: the 32-bit product (win32) and the same programs built for x86_64 (win64), the demo
# under a window manager, and a second, byte-identical release build.
#
# What runs under Wine depends on the machine. Some machines cannot start 32-bit programs at all
# (scripts/can_run_32bit.py starts one to find out): there 32-bit Wine fails with "Exec format
# error", so the win32 build is built and its files checked, and the release is built again and
# compared, but its programs are not run; the win64 suite runs in full on every machine. The last
# lines name each suite that ran, with its count, and each that did not, and why.
#
# The presets (native, asan, fuzz, win32, win64) are the ones CI uses: warnings are errors there
# (ZQ_WERROR). The Release builds use the defaults, where warnings are only reported.
set -euo pipefail
cd "$(dirname "$0")/.."

# As many compile jobs as the machine has cores, unless the caller chose.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

logs=build/test-logs
mkdir -p "$logs"
ran=()
not_run=()
passed_total=0
failed_total=0
started=$(date +%s)

summary() {
    local status=$1
    echo
    echo "== summary ($(($(date +%s) - started)) s)"
    local line
    for line in "${ran[@]}"; do
        echo "ran:     $line"
    done
    for line in "${not_run[@]}"; do
        echo "not run: $line"
    done
    if [ "$status" -ne 0 ]; then
        echo "FAILED: the test command stopped at its first failure (exit status $status)"
    fi
    echo "total: $passed_total passed, $failed_total failed"
}
trap 'summary $?' EXIT

# suite NAME [--display] CTEST_ARGS...: one ctest run, its output also in build/test-logs/NAME.log,
# counted in the summary; with --display on a virtual X display of its own. A run that ran no test
# fails: a suite never passes by not running.
suite() {
    local name=$1
    shift
    local runner=()
    if [ "$1" = --display ]; then
        runner=(xvfb-run -a -s "-screen 0 1280x800x24")
        shift
    fi
    local log="$logs/$name.log" status=0 begun
    begun=$(date +%s)
    "${runner[@]}" ctest "$@" 2>&1 | tee "$log" || status=$?
    local took=$(($(date +%s) - begun))
    local counts passed failed total
    counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -z "$counts" ]; then
        failed=0
        total=0
    else
        failed=${counts%% *}
        total=${counts##* }
    fi
    passed=$((total - failed))
    passed_total=$((passed_total + passed))
    failed_total=$((failed_total + failed))
    if [ "$status" -ne 0 ] || [ "$failed" -ne 0 ]; then
        ran+=("$name: $passed passed, $failed failed in $took s (see $log)")
        exit 1
    fi
    if [ "$total" -eq 0 ]; then
        ran+=("$name: no test ran")
        echo "test: the $name suite ran no test" >&2
        exit 1
    fi
    ran+=("$name: $passed passed, 0 failed in $took s")
}

echo "== native: the core against the simulated camera"
cmake --preset native
cmake --build --preset native
suite native --preset native

echo "== asan: the same suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan
suite asan --preset asan

echo "== fuzz: every byte parser under libFuzzer, ASan and UBSan: the committed corpus, then a"
echo "   fuzzing run with a fixed seed and number of inputs (scripts/fuzz.sh fuzzes longer)"
cmake --preset fuzz
cmake --build --preset fuzz
suite fuzz --preset fuzz

echo "== release: the plain Release build, native with its suite, and for win32"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release
# The guest is booted once per run of this script, in the native preset above.
suite release --test-dir build/release --output-on-failure -E '^guest\.'
cmake -S . -B build/release-win32 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
cmake --build build/release-win32
ran+=("release-win32: built (a Release build for win32 as a user types it)")

echo "== does this machine run 32-bit programs?"
if probe=$(python3 scripts/can_run_32bit.py); then
    runs32=1
else
    runs32=0
fi
echo "$probe"

echo "== win32: Zelquin.exe, its file checks, and where 32-bit code runs the tests under Wine and"
echo "   the end-to-end scenarios"
if [ "$runs32" = 1 ]; then
    cmake --preset win32 -DZQ_WINE_TESTS=ON
    cmake --build --preset win32
    suite win32 --display --preset win32
else
    # Only the checks of the built files: the tests that start the programs are not registered.
    cmake --preset win32 -DZQ_WINE_TESTS=OFF
    cmake --build --preset win32
    suite win32-files --preset win32 -L file
    why="win32 under Wine (the window tests, the end-to-end scenarios on Zelquin-sim.exe, the"
    why+=" real Zelquin.exe and zelquin-cli.exe on the virtual camera): ${probe#no: }, so 32-bit"
    why+=" Wine cannot start here; the same scenarios ran on the win64 build"
    not_run+=("$why")
fi

echo "== win64: the same programs built for x86_64, their file checks, the tests under 64-bit Wine"
echo "   and the end-to-end scenarios"
cmake --preset win64
cmake --build --preset win64
suite win64 --display --preset win64

echo "== demo: run.sh on a display with a window manager (openbox), driven by the keyboard"
if [ "$runs32" = 1 ]; then
    ZQ_ARCH=win32 ./tests/demo/wm_check.sh
    ran+=("demo (win32): run.sh under openbox, driven by the keyboard")
else
    why="demo (win32): ${probe#no: }, so 32-bit Wine cannot start here; the demo ran on the win64"
    why+=" build"
    not_run+=("$why")
fi
ZQ_ARCH=win64 ./tests/demo/wm_check.sh
ran+=("demo (win64): run.sh under openbox, driven by the keyboard")

echo "== release: Zelquin.exe built again from scratch in another folder, byte for byte the same"
./scripts/release.sh --compare build/win32/app/Zelquin.exe
ran+=("release: Zelquin.exe rebuilt from scratch, byte for byte the exe the win32 build made")

echo "== release: the Windows archive made again from scratch in another folder, byte for byte the same"
./scripts/release.sh --out build/dist-again --compare-dist dist
ran+=("release: zelquin-<version>-windows.zip made twice from scratch, byte for byte the same")

echo "== package: the Debian package from a Release build with Debian's flags, checked by lintian"
./scripts/package-deb.sh --out build/deb-dist
ran+=("package: zelquin-cli_<version>_<arch>.deb built from scratch; lintian: no error or warning")
