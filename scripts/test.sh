#!/usr/bin/env bash
# Builds and runs every test: the native core suite against the simulated camera (plain, then
# under ASan and UBSan), the deterministic fuzz gate, a Release build as a user types it (native,
# with its suite, and for win32), then the 32-bit Windows build and its tests under Wine on a
# virtual X display, the demo under a window manager, and a second, byte-identical release build.
#
# The presets (native, asan, fuzz, win32) are the ones CI uses: warnings are errors there
# (ZQ_WERROR). The Release builds use the defaults, where warnings are only reported.
set -euo pipefail
cd "$(dirname "$0")/.."

# As many compile jobs as the machine has cores, unless the caller chose.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

echo "== native: the core against the simulated camera"
cmake --preset native
cmake --build --preset native
ctest --preset native

echo "== asan: the same suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

echo "== fuzz: every byte parser under libFuzzer, ASan and UBSan: the committed corpus, then a"
echo "   fuzzing run with a fixed seed and number of inputs (scripts/fuzz.sh fuzzes longer)"
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz

echo "== release: the plain Release build, native with its suite, and for win32"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release
# The guest is booted once per run of this script, in the native preset above.
ctest --test-dir build/release --output-on-failure -E '^guest\.'
cmake -S . -B build/release-win32 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
cmake --build build/release-win32

echo "== win32: Zelquin.exe, its file check, the tests under Wine and the end-to-end scenarios"
cmake --preset win32
cmake --build --preset win32
xvfb-run -a -s "-screen 0 1280x800x24" ctest --preset win32

echo "== demo: run.sh on a display with a window manager (openbox), driven by the keyboard"
./tests/demo/wm_check.sh

echo "== release: Zelquin.exe built again from scratch in another folder, byte for byte the same"
./scripts/release.sh --compare build/win32/app/Zelquin.exe
