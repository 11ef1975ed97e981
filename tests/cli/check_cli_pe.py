#!/usr/bin/env python3
"""Checks the built zelquin-cli.exe file: what Windows reads from it before any of our code runs.

    check_cli_pe.py ZELQUIN_CLI_EXE --sim SIM_EXE --sim-sources DIR --product-sources DIR...

The headers (32-bit i386 console program for Windows 6.0, stripped) and the imported DLLs (system
DLLs only, none of the compiler's runtime DLLs); that the simulated program needs no DLL the
product does not; and that no text of the simulator's sources is in the product. The file is read
with the control panel's check (tests/app/check_pe.py). Standard library only.
"""

import argparse
import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "app"))
import check_pe  # noqa: E402  (the PE reader and the list of system DLLs)

failures = []


def expect_equal(actual, expected, what):
    if actual != expected:
        failures.append(f"{what}: {actual!r}, expected {expected!r}")


def check_headers(pe):
    expect_equal(pe.magic, 0x10B, "optional header magic (PE32)")
    expect_equal(pe.machine, 0x14C, "machine (i386)")
    expect_equal(pe.subsystem, 3, "subsystem (Windows console)")
    expect_equal(pe.subsystem_version, (6, 0), "subsystem version")
    expect_equal(pe.os_version, (6, 0), "operating system version")
    expect_equal((pe.symbol_table, pe.symbols), (0, 0), "COFF symbol table (stripped)")
    debug = [name for name, *_ in pe.sections if name.startswith((".debug", "/"))]
    expect_equal(debug, [], "debug sections")


def check_imports(pe):
    dlls = sorted(d.lower() for d in pe.imported_dlls())
    if not dlls:
        failures.append("the program imports no DLL at all")
    expect_equal([d for d in dlls if d not in check_pe.SYSTEM_DLLS], [],
                 "imported DLLs that are not system DLLs")
    runtime = [d for d in dlls if re.match(r"lib(stdc\+\+|gcc|winpthread)", d)]
    expect_equal(runtime, [], "compiler runtime DLLs")
    return set(dlls)


def sources_text(folders):
    return "\n".join(p.read_text(encoding="utf-8") for folder in folders
                     for p in pathlib.Path(folder).rglob("*") if p.suffix in (".cpp", ".h"))


def check_simulator(product, product_dlls, sim_path, sim_sources, product_sources):
    sim = check_pe.PE(sim_path)
    extra = sorted({d.lower() for d in sim.imported_dlls()} - product_dlls)
    expect_equal(extra, [], "DLLs the simulated program imports and the product does not")
    product_text = sources_text(product_sources)
    markers = sorted(t for t in check_pe.literals(sim_sources)
                     if len(t) >= 6 and "\\" not in t and re.search("[A-Za-z]", t)
                     and t not in product_text)

    def holds(pe, text):
        return text.encode("latin-1") in pe.data or text.encode("utf-16-le") in pe.data

    if not [t for t in markers if holds(sim, t)]:
        failures.append(f"none of the simulator's texts found even in {sim_path}")
    expect_equal([t for t in markers if holds(product, t)], [], "simulator texts in the product")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--sim", required=True)
    parser.add_argument("--sim-sources", required=True)
    parser.add_argument("--product-sources", nargs="+", required=True)
    args = parser.parse_args()

    product = check_pe.PE(args.exe)
    check_headers(product)
    dlls = check_imports(product)
    check_simulator(product, dlls, args.sim, args.sim_sources, args.product_sources)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{args.exe}: {'ok' if not failures else f'{len(failures)} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
