#!/usr/bin/env bash
# Builds the Debian package of zelquin-cli from scratch, in a folder of its own (build/deb), as a
# Release build with Debian's compiler and linker flags, and writes it to dist/ (or DIR):
# zelquin-cli_<version>_<architecture>.deb, the version being the project's (CMakeLists.txt).
# CPack's DEB generator packs what `cmake --install` installs (packaging/CMakeLists.txt), with the
# dependencies that dpkg-shlibdeps finds. Then lintian checks the package: an error or a warning
# fails the script.
#
#   scripts/package-deb.sh [--out DIR]
#
# Install it with `sudo apt install ./dist/zelquin-cli_<version>_<architecture>.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."

out=dist
if [ "${1:-}" = --out ]; then
    out=$2
fi

build=build/deb
rm -rf "$build"
# Debian's build flags with every hardening feature (stack protector, fortified functions,
# read-only relocations, immediate binding). CMake reads no CPPFLAGS: they go with the compiler's.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
cpack --config "$build/CPackConfig.cmake" -B "$build/package"

deb=$(ls "$build"/package/zelquin-cli_*.deb)
mkdir -p "$out"
cp "$deb" "$out/"
deb="$out/$(basename "$deb")"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "== lintian"
lintian --fail-on error,warning --display-info "$deb"
echo "$deb: built, lintian found no error and no warning"
