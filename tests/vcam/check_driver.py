#!/usr/bin/env python3
"""Checks the built driver file zqvcam.sys: what a Windows kernel (or Wine's winedevice.exe) reads
from it before DriverEntry runs.

    check_driver.py [--machine i386|amd64] ZQVCAM_SYS

An image for the native subsystem (32-bit i386, or with --machine amd64 the 64-bit build's PE32+
x86-64 image, as a 64-bit kernel loads only), made as a DLL whose entry point is DriverEntry, relocatable (the
kernel places a driver where it likes; the 32-bit image carries base relocations), no thread-local storage and no COFF symbols, marked
relocatable and NX-compatible, importing from the kernel and the HAL only. The PE reader is the
one of tests/app/check_pe.py. Standard library only.
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "app"))
import check_pe  # noqa: E402  (the reader lives there)

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_DLL = 0x2000
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100
EXPORT, IMPORT, BASERELOC, TLS = 0, 1, 5, 9
# What the driver imports. On x86-64 the spin locks and the IRQL calls it uses are the kernel's
# own; the 32-bit kernel leaves some of them to the HAL.
KERNEL_DLLS = {"i386": {"ntoskrnl.exe", "hal.dll"}, "amd64": {"ntoskrnl.exe"}}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("driver")
    check_pe.add_machine_argument(parser)
    args = parser.parse_args()
    check_pe.use_machine(args.machine)
    pe = check_pe.PE(args.driver)
    expect = check_pe.expect_equal

    check_pe.check_machine(pe)
    expect(pe.subsystem, 1, "subsystem (native)")
    expect(pe.characteristics & (IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL),
           IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL, "characteristics: an executable DLL")
    expect(pe.dll_characteristics & (DYNAMIC_BASE | NX_COMPAT), DYNAMIC_BASE | NX_COMPAT,
           "DLL characteristics: relocatable, NX-compatible")
    # The entry point is DriverEntry itself, which the image also exports by name: a linker told
    # an entry symbol it cannot find starts the image elsewhere.
    # (stdcall-decorated in the 32-bit image: DriverEntry@8).
    exports = pe.exports()
    entries = [rva for name, rva in exports.items() if name.split("@")[0] == "DriverEntry"]
    if check_pe.check(len(entries) == 1, f"DriverEntry not exported once: {sorted(exports)}"):
        expect(pe.entry, entries[0], "entry point (DriverEntry's address)")
    check_pe.check(not pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED,
                   "relocations stripped: the kernel could not place the driver where it likes")
    if args.machine == "i386":
        # 32-bit code holds absolute addresses; x86-64 code reaches its data relative to the
        # instruction and may need no relocation at all.
        check_pe.check(pe.directories[BASERELOC][1] > 0, "no base relocations")
    expect(pe.directories[TLS], (0, 0), "thread-local storage directory")
    expect((pe.symbol_table, pe.symbols), (0, 0), "COFF symbol table (stripped)")

    dlls = {name.lower() for name in pe.imported_dlls()}
    expect(dlls, KERNEL_DLLS[args.machine], "imported DLLs")

    for failure in check_pe.failures:
        print("FAIL:", failure)
    if check_pe.failures:
        return 1
    print(f"{args.driver}: a native {args.machine} driver image importing {sorted(dlls)} only")
    return 0


if __name__ == "__main__":
    sys.exit(main())
