#!/usr/bin/env bash
# Builds a Windows release from scratch, in a folder of its own, into dist/ (or DIR): Zelquin.exe
# with its SHA-256 beside it (Zelquin.exe.sha256, in the format `sha256sum -c` reads), and the
# archive zelquin-<version>-windows.zip that users download: Zelquin.exe and zelquin-cli.exe (both
# 32-bit, i686), README.txt and SHA256SUMS (scripts/release_zip.py), with its own SHA-256 beside
# it (zelquin-<version>-windows.zip.sha256). The version is the project's (CMakeLists.txt).
#
#   scripts/release.sh                      build and write dist/
#   scripts/release.sh --out DIR            write DIR instead, building in DIR-build
#   scripts/release.sh --compare EXE        also fail unless Zelquin.exe is byte for byte EXE, made
#                                           by another build (the test command passes the win32
#                                           preset's)
#   scripts/release.sh --compare-dist DIR   also fail unless the archive is byte for byte DIR's of
#                                           the same name (the test command makes the release
#                                           twice, in two folders)
#
# The build is reproducible: the same commit gives the same bytes from any folder at any time (no
# time stamp and no build path in the programs; in the archive the commit's time, fixed modes and
# order), so anyone can rebuild a release and compare hashes.
set -euo pipefail
cd "$(dirname "$0")/.."

compare=""
compare_dist=""
out=dist
while [ $# -gt 0 ]; do
    case "$1" in
        --compare) compare=$(realpath "$2"); shift 2 ;;
        --compare-dist) compare_dist=$(realpath "$2"); shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) echo "release: unknown argument $1" >&2; exit 2 ;;
    esac
done

build=build/dist
if [ "$out" != dist ]; then
    build="$out-build"
fi
rm -rf "$build"
cmake -S . -B "$build" --toolchain cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DZQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target Zelquin zelquin-cli

mkdir -p "$out"
cp "$build/app/Zelquin.exe" "$out/Zelquin.exe"
(cd "$out" && sha256sum Zelquin.exe >Zelquin.exe.sha256)
echo "$out/Zelquin.exe: $(stat -c %s "$out/Zelquin.exe") bytes"
cat "$out/Zelquin.exe.sha256"

# The archive: its entries dated with the commit's time (SOURCE_DATE_EPOCH, when set, instead).
version=$(sed -n 's/^project(Zelquin VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
zip="zelquin-$version-windows.zip"
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
rm -f "$out"/zelquin-*-windows.zip "$out"/zelquin-*-windows.zip.sha256
python3 scripts/release_zip.py "$out/$zip" "$version" "$epoch" packaging/windows/README.txt \
    "$build/app/Zelquin.exe" "$build/cli/zelquin-cli.exe"
(cd "$out" && sha256sum "$zip" >"$zip.sha256")
echo "$out/$zip: $(stat -c %s "$out/$zip") bytes"
cat "$out/$zip.sha256"

# same MADE OTHER: fails unless MADE is byte for byte OTHER.
same() {
    if cmp -s "$1" "$2"; then
        echo "reproducible: $1 is byte for byte $2"
    else
        echo "NOT reproducible: $1 differs from $2:" >&2
        cmp -l "$1" "$2" | head -20 >&2 || true
        exit 1
    fi
}
if [ -n "$compare" ]; then
    same "$out/Zelquin.exe" "$compare"
fi
if [ -n "$compare_dist" ]; then
    same "$out/$zip" "$compare_dist/$zip"
fi
