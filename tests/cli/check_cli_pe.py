#!/usr/bin/env python3
"""Checks the built zelquin-cli.exe file: what Windows reads from it before any of our code runs.

    check_cli_pe.py [--machine i386|amd64] ZELQUIN_CLI_EXE --sim SIM_EXE --sim-sources DIR
                    --product-sources DIR...

The headers (a console program for Windows 6.0, stripped: 32-bit i386, or with --machine amd64
the 64-bit build's PE32+ x86-64 file) and the imported DLLs (system
DLLs only, none of the compiler's runtime DLLs); that the simulated program needs no DLL the
product does not; and that no text of the simulator's sources is in the product. The file is read
and checked with the control panel's check (tests/app/check_pe.py). Standard library only.
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "app"))
import check_pe  # noqa: E402  (the PE reader and its checks)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    check_pe.add_machine_argument(parser)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--sim-sources", required=True)
    parser.add_argument("--product-sources", nargs="+", required=True)
    args = parser.parse_args()
    check_pe.use_machine(args.machine)

    product = check_pe.PE(args.exe)
    check_pe.check_headers(product, check_pe.SUBSYSTEM_CONSOLE)
    dlls = check_pe.check_imports(product)
    check_pe.check_simulator(product, dlls, args.sim, args.sim_sources, args.product_sources)

    for failure in check_pe.failures:
        print("FAIL:", failure)
    print(f"{args.exe}: {'ok' if not check_pe.failures else f'{len(check_pe.failures)} failures'}")
    return 1 if check_pe.failures else 0


if __name__ == "__main__":
    sys.exit(main())
