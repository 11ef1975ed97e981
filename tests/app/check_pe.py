#!/usr/bin/env python3
"""Checks the built Zelquin.exe file: what Windows reads from it before any of our code runs.

    check_pe.py [--machine i386|amd64] ZELQUIN_EXE [--sim SIM_EXE --sim-sources DIR
                                                    --product-sources DIR...]

The headers (a GUI program for Windows 6.0, stripped: 32-bit i386, the product, or with --machine
amd64 the 64-bit build's PE32+ x86-64 file), the imported DLLs (system DLLs only), and the resources: their ids and languages, the dialog template and its initialisation
list decoded against the tables below, the icons, the manifest and the version information.
With --sim, also that the simulated program needs no DLL the product does not, and that no text
of the simulator's sources is in the product. Standard library only.
"""

import argparse
import pathlib
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST, RT_DLGINIT = 3, 5, 14, 16, 24, 240
LANG_ZH_CN, LANG_EN_US = 2052, 1033

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comctl32.dll", "advapi32.dll",
    "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "msvcrt.dll", "shlwapi.dll", "uxtheme.dll",
    "comdlg32.dll", "version.dll", "ntdll.dll",
}

# ---- the dialog template IDD_CONTROL_PANEL ----

BUTTON, STATIC, COMBOBOX = 0x80, 0x82, 0x85

DIALOG = {
    "help_id": 0, "ex_style": 0x00040000, "style": 0x90CF0048,
    "rect": (0, 0, 553, 134), "menu": 0, "class": 0, "title": "OSTRAVEL QXM V1.1",
    "font": (9, 0, 0, 1, "MS Shell Dlg"),  # points, weight, italic, character set, typeface
}

# (id, class, text, x, y, width, height, style, extended style), in template order.
CONTROLS = [
    (1001, BUTTON, "Sync with PC Time", 26, 27, 94, 17, 0x58010000, 0),
    (1002, BUTTON, "Open File Folder", 437, 55, 83, 19, 0x58010000, 0),
    (1006, STATIC, "Device not connected.", 7, 121, 179, 8, 0x50020000, 0),
    (1007, STATIC, "", 407, 121, 139, 8, 0x50020000, 0x1000),
    (-1, BUTTON, "Camera Options", 7, 3, 539, 107, 0x50000007, 0),
    (-1, STATIC, "Current PC time", 26, 57, 51, 8, 0x50020000, 0),
    (1011, STATIC, "", 27, 75, 94, 13, 0x50020000, 0),
    (-1, STATIC, "Overwrite", 153, 41, 32, 8, 0x50020000, 0),
    (-1, STATIC, "Time Stamp Display", 226, 43, 62, 8, 0x50020000, 0),
    (-1, STATIC, "Video Resolution", 326, 43, 53, 8, 0x50020000, 0),
    (1008, COMBOBOX, "", 151, 57, 48, 30, 0x58210102, 0),
    (1009, COMBOBOX, "", 227, 57, 74, 30, 0x58210102, 0),
    (1010, COMBOBOX, "", 326, 57, 97, 30, 0x58210102, 0),
]

# (control id, message, bytes), in list order.
DLGINIT = [
    (1008, 0x0403, b"ON\0"),
    (1008, 0x0403, b"OFF\0"),
    (1009, 0x0403, b"OFF\0"),
    (1009, 0x0403, b"ON\0"),
    (1010, 0x0403, b"1080P 30FPS\0"),
    (1010, 0x0403, b"720P 30FPS\0"),
]

VERSION_STRINGS = {
    "FileDescription": "Zelquin",
    "FileVersion": "1.0.0.1",
    "InternalName": "Zelquin.exe",
    "OriginalFilename": "Zelquin.exe",
    "ProductVersion": "1.0.0.1",
}

# What each architecture's file says of itself: the optional header's magic, the machine and the
# processor architecture the manifest asks the common controls for.
MACHINES = {
    "i386": {"magic": (0x10B, "PE32"), "machine": (0x14C, "i386"), "manifest": "x86"},
    "amd64": {"magic": (0x20B, "PE32+"), "machine": (0x8664, "x86-64"), "manifest": "amd64"},
}
machine = MACHINES["i386"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def expect_equal(actual, expected, what):
    return check(actual == expected, f"{what}: {actual!r}, expected {expected!r}")


# ---- reading the file ----


class Reader:
    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n):
        self.at = (self.at + n - 1) // n * n

    def wide_z(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return text

    def sz_or_ord(self):
        if struct.unpack_from("<H", self.data, self.at)[0] == 0xFFFF:
            self.at += 2
            return self.take("H")
        text = self.wide_z()
        return 0 if text == "" else text


class PE:
    def __init__(self, path):
        self.data = pathlib.Path(path).read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not an MZ file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.os_version = struct.unpack_from("<HH", d, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", d, opt + 48)
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        self.dll_characteristics = struct.unpack_from("<H", d, opt + 70)[0]
        self.entry = struct.unpack_from("<I", d, opt + 16)[0]
        # PE32+ has no BaseOfData and 8-byte image base and stack and heap sizes: its data
        # directories begin 16 bytes further on.
        count_at = opt + (108 if self.magic == 0x20B else 92)
        directories = struct.unpack_from("<I", d, count_at)[0]
        self.directories = [struct.unpack_from("<II", d, count_at + 4 + 8 * i)
                            for i in range(directories)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw = struct.unpack_from("<8sIIII", d, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), rva, max(vsize, raw_size),
                                  raw))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} in no section")

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imported_dlls(self):
        rva, size = self.directories[1]
        names = []
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and first == 0:
                return names
            names.append(self.c_string(name))
            at += 20

    def exports(self):
        """{name: rva} of the functions the file exports by name."""
        rva, size = self.directories[0]
        if size == 0:
            return {}
        at = self.offset(rva)
        functions, names, ordinals = struct.unpack_from("<III", self.data, at + 28)
        count = struct.unpack_from("<I", self.data, at + 24)[0]
        result = {}
        for i in range(count):
            name = self.c_string(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0])
            ordinal = struct.unpack_from("<H", self.data, self.offset(ordinals) + 2 * i)[0]
            result[name] = struct.unpack_from("<I", self.data,
                                              self.offset(functions) + 4 * ordinal)[0]
        return result

    def resources(self):
        """[(type, name, language, bytes)] in directory order."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        result = []

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if key & 0x80000000:
                    length = struct.unpack_from("<H", self.data, base + (key & 0x7FFFFFFF))[0]
                    start = base + (key & 0x7FFFFFFF) + 2
                    key = self.data[start:start + 2 * length].decode("utf-16-le")
                yield key, target

        for rtype, t in entries(base):
            for name, n in entries(base + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(base + (n & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(data_rva)
                    result.append((rtype, name, lang, self.data[at:at + size]))
        return result


# ---- decoders ----


def decode_dialogex(data):
    r = Reader(data)
    version, signature = r.take("HH")
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    dialog = {"help_id": r.take("I"), "ex_style": r.take("I"), "style": r.take("I")}
    count = r.take("H")
    dialog["rect"] = r.take("hhhh")
    dialog["menu"] = r.sz_or_ord()
    dialog["class"] = r.sz_or_ord()
    dialog["title"] = r.wide_z()
    if dialog["style"] & 0x40:  # DS_SETFONT
        points, weight, italic, charset = r.take("HHBB")
        dialog["font"] = (points, weight, italic, charset, r.wide_z())
    controls = []
    for _ in range(count):
        r.align(4)
        _help, ex_style, style = r.take("III")
        x, y, cx, cy = r.take("hhhh")
        control_id = r.take("i")
        window_class = r.sz_or_ord()
        text = r.sz_or_ord()
        extra = r.take("H")
        r.at += extra
        controls.append((control_id, window_class, text if text != 0 else "", x, y, cx, cy, style,
                         ex_style))
    return dialog, controls


def decode_dlginit(data):
    """(entries, ended): entries up to the zero id; ended when that id was there."""
    entries, at = [], 0
    while at + 2 <= len(data):
        control = struct.unpack_from("<H", data, at)[0]
        if control == 0:
            return entries, at + 2
        message, length = struct.unpack_from("<HI", data, at + 2)
        at += 8
        entries.append((control, message, data[at:at + length]))
        at += length
    return entries, None


def decode_version(data):
    """The VS_VERSIONINFO tree as (key, value bytes, text flag, children)."""

    def node(at):
        length, value_length, is_text = struct.unpack_from("<HHH", data, at)
        r = Reader(data, at + 6)
        key = r.wide_z()
        r.align(4)
        size = value_length * 2 if is_text else value_length
        value = data[r.at:r.at + size]
        r.at += size
        r.align(4)
        children = []
        while r.at < at + length:
            child, end = node(r.at)
            children.append(child)
            r.at = (end + 3) // 4 * 4
        return (key, value, is_text, children), at + length

    return node(0)[0]


# ---- the checks ----


SUBSYSTEM_GUI, SUBSYSTEM_CONSOLE = 2, 3


def check_machine(pe):
    magic, magic_name = machine["magic"]
    code, code_name = machine["machine"]
    expect_equal(pe.magic, magic, f"optional header magic ({magic_name})")
    expect_equal(pe.machine, code, f"machine ({code_name})")


def check_headers(pe, subsystem=SUBSYSTEM_GUI):
    check_machine(pe)
    expect_equal(pe.subsystem, subsystem,
                 "subsystem (%s)" % ("Windows GUI" if subsystem == SUBSYSTEM_GUI else "console"))
    expect_equal(pe.subsystem_version, (6, 0), "subsystem version")
    expect_equal(pe.os_version, (6, 0), "operating system version")
    expect_equal((pe.symbol_table, pe.symbols), (0, 0), "COFF symbol table (stripped)")
    debug = [name for name, *_ in pe.sections if name.startswith((".debug", "/"))]
    expect_equal(debug, [], "debug sections")


def check_imports(pe):
    dlls = pe.imported_dlls()
    check(dlls, "the program imports no DLL at all")
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    expect_equal(foreign, [], "imported DLLs that are not system DLLs")
    runtime = [d for d in dlls if re.match(r"lib(stdc\+\+|gcc|winpthread)", d.lower())]
    expect_equal(runtime, [], "compiler runtime DLLs")
    return {d.lower() for d in dlls}


def check_dialog(data):
    dialog, controls = decode_dialogex(data)
    for key, expected in DIALOG.items():
        expect_equal(dialog.get(key), expected, f"dialog {key}")
    expect_equal(len(controls), len(CONTROLS), "number of controls")
    for n, (actual, expected) in enumerate(zip(controls, CONTROLS), 1):
        expect_equal(actual, expected, f"control {n}")


def check_dlginit(data):
    entries, end = decode_dlginit(data)
    expect_equal(entries, DLGINIT, "initialisation list entries")
    check(end is not None and not data[end:].strip(b"\0"),
          "initialisation list: no zero id at its end, or bytes after it")


def decode_png_rgba(image, what):
    """The pixels of a 256 x 256 8-bit RGBA PNG icon frame, row after row; None (and a failed
    check) for anything else. Windows takes a 256 x 256 frame stored this way from Vista on."""
    if not check(image[:8] == b"\x89PNG\r\n\x1a\n", f"{what}: a PNG frame"):
        return None
    at, header, stream = 8, None, bytearray()
    while at + 8 <= len(image):
        length, kind = struct.unpack_from(">I4s", image, at)
        data = image[at + 8:at + 8 + length]
        crc, = struct.unpack_from(">I", image, at + 8 + length)
        if not check(zlib.crc32(kind + data) & 0xFFFFFFFF == crc, f"{what}: {kind} chunk CRC"):
            return None
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", data)
        elif kind == b"IDAT":
            stream += data
        at += 12 + length
        if kind == b"IEND":
            break
    if not expect_equal(header, (256, 256, 8, 6, 0, 0, 0),
                        f"{what}: 256 x 256, 8-bit RGBA, not interlaced"):
        return None
    raw = zlib.decompress(bytes(stream))
    stride = 256 * 4
    if not expect_equal(len(raw), 256 * (stride + 1), f"{what}: image data size"):
        return None
    pixels, previous = bytearray(), bytearray(stride)
    for y in range(256):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
            elif kind != 0:
                check(False, f"{what}: unknown filter {kind} on row {y}")
                return None
        pixels += line
        previous = line
    return bytes(pixels)


def check_icons(resources):
    groups = [(name, lang, data) for rtype, name, lang, data in resources if rtype == RT_GROUP_ICON]
    expect_equal([(name, lang) for name, lang, _ in groups], [(128, LANG_ZH_CN), (130, LANG_ZH_CN)],
                 "group icons (id, language), the first being the shell's")
    icons = {name: (lang, data) for rtype, name, lang, data in resources if rtype == RT_ICON}
    images = []
    for name, _, data in groups:
        _, kind, count = struct.unpack_from("<HHH", data, 0)
        expect_equal((kind, count), (1, 1), f"group icon {name}: type and image count")
        width, height, colors, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", data, 6)
        expect_equal((width, height, colors, planes, bits), (0, 0, 0, 1, 32),
                     f"group icon {name}: 256 x 256, 32 bits")
        if not check(icon_id in icons, f"group icon {name}: icon {icon_id} missing"):
            continue
        lang, image = icons[icon_id]
        expect_equal(lang, LANG_ZH_CN, f"icon {icon_id} language")
        expect_equal(len(image), size, f"icon {icon_id} size as its group states")
        pixels = decode_png_rgba(image, f"icon {icon_id}")
        if pixels is None:
            continue
        alphas = set(pixels[3::4])
        check(len(alphas) > 2, f"icon {icon_id}: no graded alpha, so no anti-aliased shapes")
        images.append(image)
    check(len(images) == 2 and images[0] == images[1], "the two icons differ")


def check_manifest(data):
    ns = {"a1": "urn:schemas-microsoft-com:asm.v1", "a3": "urn:schemas-microsoft-com:asm.v3",
          "ws": "http://schemas.microsoft.com/SMI/2005/WindowsSettings"}
    root = ET.fromstring(data)
    identity = root.find("a1:dependency/a1:dependentAssembly/a1:assemblyIdentity", ns)
    if check(identity is not None, "manifest: no dependent assembly"):
        expect_equal(dict(identity.attrib), {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": machine["manifest"], "publicKeyToken": "6595b64144ccf1df", "language": "*",
        }, "manifest: common controls dependency")
    level = root.find("a3:trustInfo/a3:security/a3:requestedPrivileges/a3:requestedExecutionLevel",
                      ns)
    if check(level is not None, "manifest: no requested execution level"):
        expect_equal(dict(level.attrib), {"level": "asInvoker", "uiAccess": "false"},
                     "manifest: execution level")
    dpi = root.find("a3:application/a3:windowsSettings/ws:dpiAware", ns)
    check(dpi is not None and dpi.text.strip() == "true", "manifest: dpiAware is not true")


def check_version(data):
    key, fixed, _, children = decode_version(data)
    expect_equal(key, "VS_VERSION_INFO", "version resource key")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    expect_equal(signature, 0xFEEF04BD, "fixed file information signature")
    expect_equal((file_ms, file_ls), (0x00010000, 0x00000001), "file version 1.0.0.1")
    expect_equal((product_ms, product_ls), (0x00010000, 0x00000001), "product version 1.0.0.1")
    blocks = {child[0]: child for child in children}
    tables = blocks.get("StringFileInfo", (None, None, None, []))[3]
    expect_equal([t[0] for t in tables], ["080404b0"], "string tables")
    if tables:
        strings = {k: v.decode("utf-16-le").rstrip("\0") for k, v, _, _ in tables[0][3]}
        for name, expected in VERSION_STRINGS.items():
            expect_equal(strings.get(name), expected, f"version string {name}")
        for name in ("CompanyName", "ProductName"):
            check(strings.get(name, "").startswith("<"), f"version string {name} is no placeholder")
    translations = blocks.get("VarFileInfo", (None, None, None, []))[3]
    values = [struct.unpack("<HH", v) for k, v, _, _ in translations if k == "Translation"]
    expect_equal(values, [(0x0804, 1200)], "version translation")


def check_resources(pe):
    resources = pe.resources()
    index = {(t, n): (lang, data) for t, n, lang, data in resources}
    listed = sorted({(t, n, lang) for t, n, lang, _ in resources if t != RT_ICON},
                    key=str)
    expected = sorted([(RT_DIALOG, 102, LANG_ZH_CN), (RT_DLGINIT, 102, LANG_ZH_CN),
                       (RT_GROUP_ICON, 128, LANG_ZH_CN), (RT_GROUP_ICON, 130, LANG_ZH_CN),
                       (RT_VERSION, 1, LANG_ZH_CN), (RT_MANIFEST, 1, LANG_EN_US)], key=str)
    expect_equal(listed, expected, "resources (type, id, language) besides the icon images")
    if (RT_DIALOG, 102) in index:
        check_dialog(index[(RT_DIALOG, 102)][1])
    if (RT_DLGINIT, 102) in index:
        check_dlginit(index[(RT_DLGINIT, 102)][1])
    if (RT_MANIFEST, 1) in index:
        check_manifest(index[(RT_MANIFEST, 1)][1])
    if (RT_VERSION, 1) in index:
        check_version(index[(RT_VERSION, 1)][1])
    check_icons(resources)


LITERAL = re.compile(r'(?:u8|u|U|L)?"((?:[^"\\\n]|\\.)*)"')


def literals(folder):
    found = set()
    for path in pathlib.Path(folder).rglob("*"):
        if path.suffix not in (".cpp", ".h", ".rc"):
            continue
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.lstrip().startswith("#include"):
                continue
            found.update(LITERAL.findall(line))
    return found


def check_simulator(product, product_dlls, sim_path, sim_sources, product_sources):
    sim = PE(sim_path)
    extra = sorted({d.lower() for d in sim.imported_dlls()} - product_dlls)
    expect_equal(extra, [], "DLLs the simulated program imports and the product does not")

    product_text = "\n".join(
        p.read_text(encoding="utf-8") for folder in product_sources
        for p in pathlib.Path(folder).rglob("*") if p.suffix in (".cpp", ".h", ".rc"))
    # Texts only the simulator has: long enough to be telling, plain enough to search for. A
    # short lowercase word alone ("normal") tells nothing: the compiler's run-time library has
    # such words inside its own names (locale::_S_normalize_category).
    markers = sorted(t for t in literals(sim_sources)
                     if len(t) >= 6 and "\\" not in t and re.search("[A-Za-z]", t)
                     and not (re.fullmatch("[a-z]+", t) and len(t) < 10)
                     and t not in product_text)

    def holds(pe, text):
        return text.encode("latin-1") in pe.data or text.encode("utf-16-le") in pe.data

    seen = [t for t in markers if holds(sim, t)]
    check(seen, f"none of the simulator's texts {markers} found even in {sim_path}")
    leaked = [t for t in markers if holds(product, t)]
    expect_equal(leaked, [], "simulator texts in the product")


def add_machine_argument(parser):
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386",
                        help="the architecture the file is built for (default: i386)")


def use_machine(name):
    global machine
    machine = MACHINES[name]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    add_machine_argument(parser)
    parser.add_argument("--sim")
    parser.add_argument("--sim-sources")
    parser.add_argument("--product-sources", nargs="*", default=[])
    args = parser.parse_args()
    use_machine(args.machine)

    product = PE(args.exe)
    check_headers(product)
    dlls = check_imports(product)
    check_resources(product)
    if args.sim:
        check_simulator(product, dlls, args.sim, args.sim_sources, args.product_sources)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{args.exe}: {'ok' if not failures else f'{len(failures)} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
