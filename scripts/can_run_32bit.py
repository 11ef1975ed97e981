#!/usr/bin/env python3
"""Tells whether this machine can start 32-bit x86 programs, by starting one.

    can_run_32bit.py

Writes a tiny static i386 Linux program (an ELF header, one program header and three
instructions: exit with status 42) to a temporary file and starts it. Prints one line and exits
0 when the program ran and ended with 42, 1 otherwise, the line saying why (for example the
kernel's "Exec format error" on machines whose hypervisor runs no 32-bit code, although the kernel
has IA32 emulation built in). 32-bit Wine, and so the tests of the 32-bit Windows programs, need
this to work; the name of the hypervisor is no guide to it. Standard library only.
"""

import os
import struct
import subprocess
import sys
import tempfile

BASE = 0x08048000
ELF_HEADER_SIZE, PROGRAM_HEADER_SIZE = 52, 32
EXIT_STATUS = 42

# mov ebx, 42; mov eax, 1 (exit); int 0x80
CODE = bytes([0xBB, EXIT_STATUS, 0, 0, 0, 0xB8, 1, 0, 0, 0, 0xCD, 0x80])


def program():
    size = ELF_HEADER_SIZE + PROGRAM_HEADER_SIZE + len(CODE)
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)  # 32-bit, little-endian, version 1
    header = ident + struct.pack(
        "<HHIIIIIHHHHHH",
        2,  # e_type: executable
        3,  # e_machine: i386
        1,  # e_version
        BASE + ELF_HEADER_SIZE + PROGRAM_HEADER_SIZE,  # e_entry: the code
        ELF_HEADER_SIZE,  # e_phoff
        0,  # e_shoff: no sections
        0,  # e_flags
        ELF_HEADER_SIZE,
        PROGRAM_HEADER_SIZE,
        1,  # e_phnum
        40,  # e_shentsize
        0,  # e_shnum
        0)  # e_shstrndx
    segment = struct.pack(
        "<IIIIIIII",
        1,  # p_type: PT_LOAD
        0,  # p_offset: the whole file
        BASE,  # p_vaddr
        BASE,  # p_paddr
        size,  # p_filesz
        size,  # p_memsz
        5,  # p_flags: read, execute
        0x1000)  # p_align
    return header + segment + CODE


def main():
    with tempfile.TemporaryDirectory(prefix="zq-32bit.") as folder:
        path = os.path.join(folder, "probe32")
        with open(path, "wb") as out:
            out.write(program())
        os.chmod(path, 0o755)
        try:
            status = subprocess.run([path], check=False, timeout=30).returncode
        except OSError as error:
            print(f"no: a 32-bit x86 program cannot start here ({error.strerror})")
            return 1
        except subprocess.TimeoutExpired:
            print("no: a 32-bit x86 program started here but did not end within 30 s")
            return 1
    if status != EXIT_STATUS:
        print(f"no: a 32-bit x86 program started here but ended with {status}, "
              f"not {EXIT_STATUS}")
        return 1
    print("yes: a 32-bit x86 program runs here")
    return 0


if __name__ == "__main__":
    sys.exit(main())
