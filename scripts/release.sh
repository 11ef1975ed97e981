#!/usr/bin/env bash
# Builds Zelquin.exe for a release, from scratch, in a folder of its own, and writes it to dist/
# with its SHA-256 beside it (Zelquin.exe.sha256, in the format `sha256sum -c` reads).
#
#   scripts/release.sh                  build and write dist/Zelquin.exe, dist/Zelquin.exe.sha256
#   scripts/release.sh --compare EXE    also fail unless the release is byte for byte EXE, made by
#                                       another build (the test command passes the win32 preset's)
#
# The build is reproducible: the same commit gives the same bytes from any folder at any time (no
# time stamp and no build path in the file), so anyone can rebuild a release and compare hashes.
set -euo pipefail
cd "$(dirname "$0")/.."

compare=""
if [ "${1:-}" = --compare ]; then
    compare=$(realpath "$2")
fi

build=build/dist
rm -rf "$build"
cmake -S . -B "$build" --toolchain cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DZQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target Zelquin

mkdir -p dist
cp "$build/app/Zelquin.exe" dist/Zelquin.exe
(cd dist && sha256sum Zelquin.exe >Zelquin.exe.sha256)
echo "dist/Zelquin.exe: $(stat -c %s dist/Zelquin.exe) bytes"
cat dist/Zelquin.exe.sha256

if [ -n "$compare" ]; then
    if cmp -s dist/Zelquin.exe "$compare"; then
        echo "reproducible: the release is byte for byte $compare"
    else
        echo "NOT reproducible: the release differs from $compare:" >&2
        cmp -l dist/Zelquin.exe "$compare" | head -20 >&2 || true
        exit 1
    fi
fi
