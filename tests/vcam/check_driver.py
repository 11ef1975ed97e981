#!/usr/bin/env python3
"""Checks the built driver file zqvcam.sys: what a Windows kernel (or Wine's winedevice.exe) reads
from it before DriverEntry runs.

    check_driver.py ZQVCAM_SYS

A 32-bit i386 image for the native subsystem, made as a DLL with an entry point, relocations (the
kernel places a driver where it likes), no thread-local storage and no COFF symbols, marked
relocatable and NX-compatible, importing from the kernel and the HAL only. The PE reader is the
one of tests/app/check_pe.py. Standard library only.
"""

import pathlib
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "app"))
import check_pe  # noqa: E402  (the reader lives there)

IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_DLL = 0x2000
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100
EXPORT, IMPORT, BASERELOC, TLS = 0, 1, 5, 9
KERNEL_DLLS = {"ntoskrnl.exe", "hal.dll"}


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    pe = check_pe.PE(sys.argv[1])
    expect = check_pe.expect_equal
    data = pe.data
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24

    expect(pe.magic, 0x10B, "optional header magic (PE32)")
    expect(pe.machine, 0x14C, "machine (i386)")
    expect(pe.subsystem, 1, "subsystem (native)")
    expect(pe.characteristics & (IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL),
           IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL, "characteristics: an executable DLL")
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    expect(dll_characteristics & (DYNAMIC_BASE | NX_COMPAT), DYNAMIC_BASE | NX_COMPAT,
           "DLL characteristics: relocatable, NX-compatible")
    entry = struct.unpack_from("<I", data, optional + 16)[0]
    check_pe.check(entry != 0, "no entry point (DriverEntry)")
    check_pe.check(pe.directories[BASERELOC][1] > 0, "no base relocations")
    expect(pe.directories[TLS], (0, 0), "thread-local storage directory")
    expect((pe.symbol_table, pe.symbols), (0, 0), "COFF symbol table (stripped)")

    dlls = {name.lower() for name in pe.imported_dlls()}
    expect(dlls, KERNEL_DLLS, "imported DLLs")

    for failure in check_pe.failures:
        print("FAIL:", failure)
    if check_pe.failures:
        return 1
    print(f"{sys.argv[1]}: a native i386 driver image importing {sorted(dlls)} only")
    return 0


if __name__ == "__main__":
    sys.exit(main())
