#!/usr/bin/env bash
# The footprint of the built Windows program: file size, PE format, section sizes, stack
# reservation, and every DLL it imports with the functions it takes from each. Reads the PE file
# with i686-w64-mingw32-objdump only; nothing is run.
#
#   scripts/exe_footprint.sh                  build/win32/app/Zelquin.exe (preset "win32")
#   scripts/exe_footprint.sh path/to/other.exe
set -euo pipefail
cd "$(dirname "$0")/.."

exe="${1:-build/win32/app/Zelquin.exe}"
objdump=i686-w64-mingw32-objdump
if [ ! -f "$exe" ]; then
    echo "$exe does not exist; build it first: cmake --preset win32 && cmake --build --preset win32" >&2
    exit 1
fi

headers=$("$objdump" -p "$exe")
field() { awk -v name="$1" '$1 == name {print $2; exit}' <<<"$headers"; }

bytes=$(stat -c %s "$exe")
stack=$((16#$(field SizeOfStackReserve)))
echo "file: $exe"
echo "size: $bytes bytes ($((bytes / 1024)) KiB)"
echo "format: $(grep -m1 '^Magic' <<<"$headers" | sed 's/.*(\(.*\))/\1/'), subsystem" \
    "$(grep -m1 '^Subsystem' <<<"$headers" | sed 's/.*(\(.*\))/\1/'), stack reserve" \
    "$((stack / 1024)) KiB"

echo "sections (bytes in the file / in memory):"
"$objdump" -h "$exe" | while read -r index name size _vma _lma _offset _align; do
    [[ "$index" =~ ^[0-9]+$ ]] || continue
    read -r flags
    inFile=0
    [[ "$flags" == *CONTENTS* ]] && inFile=$((16#$size))
    printf '  %-10s %8d / %8d\n' "$name" "$inFile" "$((16#$size))"
done

echo "imports:"
dll=""
functions=()
flush() {
    if [ -n "$dll" ]; then
        local IFS=,
        echo "  $dll (${#functions[@]}): ${functions[*]}" | sed 's/,/, /g'
    fi
    dll=""
    functions=()
}
while IFS= read -r line; do
    if [[ "$line" =~ DLL\ Name:\ (.*)$ ]]; then
        flush
        dll="${BASH_REMATCH[1]}"
    elif [ -n "$dll" ] && [[ "$line" =~ ^$'\t'[0-9a-f]+$'\t'\ *[0-9]+\ +([A-Za-z_0-9@]+) ]]; then
        functions+=("${BASH_REMATCH[1]}")
    elif [ -n "$dll" ] && [[ "$line" =~ ^\ [0-9a-f]+$'\t' ]]; then
        flush
    fi
done <<<"$(sed -n '/The Import Tables/,/The Export Tables\|Exception Handling\|PE File Base Relocations/p' <<<"$headers")"
flush
