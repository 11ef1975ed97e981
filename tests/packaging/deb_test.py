#!/usr/bin/env python3
"""The Debian package as dpkg, apt and lintian see it.

    deb_test.py DEB VERSION MAN_PAGE WORK_DIR

DEB is the package CPack made of this build (ctest's package.deb). Checked: its control fields
(the project's version, this machine's architecture); its dependencies, which must be the
packages that hold the libraries the program needs, no more and no less; its files, their modes
and owner; the compressed files as Debian wants them (no name, no time stamp) with the right
contents; what its maintainer scripts do with and without a udev daemon that answers (a fake
udevadm records the calls); and lintian, which must find no error and no warning.
"""

import gzip
import os
import re
import stat
import subprocess
import sys
import unittest

DEB, VERSION, MAN_PAGE, WORK = sys.argv[1:5]
DOC = "usr/share/doc/zelquin-cli"

# Packaged path: mode.
FILES = {
    "usr/bin/zelquin-cli": 0o755,
    "usr/lib/udev/rules.d/70-zelquin-camera.rules": 0o644,
    "usr/lib/udev/zelquin-camera-mark": 0o755,
    "usr/share/man/man1/zelquin-cli.1.gz": 0o644,
    "usr/share/bash-completion/completions/zelquin-cli": 0o644,
    f"{DOC}/README.md": 0o644,
    f"{DOC}/cli.md": 0o644,
    f"{DOC}/linux.md": 0o644,
    f"{DOC}/zelquin-cli.schema.json": 0o644,
    f"{DOC}/copyright": 0o644,
    f"{DOC}/changelog.gz": 0o644,
}

RELOAD = "control --reload-rules"
TRIGGER = "trigger --action=change --settle --subsystem-match=scsi_generic --subsystem-match=block"


def run(*argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, **kwargs)


def field(name):
    return run("dpkg-deb", "--field", DEB, name).stdout.strip()


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["rm", "-rf", WORK], check=True)
        os.makedirs(WORK)
        cls.root = os.path.join(WORK, "root")
        cls.control = os.path.join(WORK, "control")
        subprocess.run(["dpkg-deb", "--extract", DEB, cls.root], check=True)
        subprocess.run(["dpkg-deb", "--control", DEB, cls.control], check=True)

    def test_control_fields(self):
        architecture = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual(os.path.basename(DEB), f"zelquin-cli_{VERSION}_{architecture}.deb")
        expected = {"Package": "zelquin-cli", "Version": VERSION, "Architecture": architecture,
                    "Section": "utils", "Priority": "optional"}
        for name, value in expected.items():
            with self.subTest(field=name):
                self.assertEqual(field(name), value)
        self.assertRegex(field("Maintainer"), r"^[^<>]+ <[^<>@]+@[^<>]+>$")
        self.assertRegex(field("Description"), r"^command-line tool for Zelquin USB video cameras\n")

    def test_depends_on_the_packages_of_the_libraries_it_links(self):
        program = os.path.join(self.root, "usr/bin/zelquin-cli")
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                            run("readelf", "--dynamic", program).stdout)
        self.assertGreaterEqual(len(needed), 1)
        paths = dict(re.findall(r"^\s*(\S+) => (/\S+)", run("ldd", program).stdout, re.M))
        holders = set()
        for library in needed:
            with self.subTest(library=library):
                self.assertIn(library, paths)
                found = run("dpkg-query", "--search", paths[library])
                if found.returncode != 0:  # the same file through the merged /usr
                    other = re.sub(r"^/usr/", "/", paths[library])
                    if other == paths[library]:
                        other = "/usr" + paths[library]
                    found = run("dpkg-query", "--search", other)
                self.assertEqual(found.returncode, 0, found.stderr)
                holders.add(found.stdout.split(":")[0])
        depends = {re.split(r"[ :(]", d.strip())[0] for d in field("Depends").split(",")}
        self.assertEqual(depends, holders)
        for entry in field("Depends").split(","):
            self.assertRegex(entry.strip(), r"^\S+ \(>= [^)]+\)$")

    def test_files_modes_and_owner(self):
        listing = run("dpkg-deb", "--contents", DEB).stdout.strip().split("\n")
        files = {}
        for line in listing:
            mode, owner, _, _, _, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            if mode.startswith("d"):
                self.assertEqual(mode, "drwxr-xr-x", line)
            else:
                files[path.removeprefix("./")] = mode
        self.assertEqual(sorted(files), sorted(FILES))
        for path, mode in FILES.items():
            with self.subTest(path=path):
                self.assertEqual(files.get(path), stat.filemode(stat.S_IFREG | mode))

    def test_compressed_files(self):
        with open(MAN_PAGE, "rb") as f:
            page = f.read()
        for path in ("usr/share/man/man1/zelquin-cli.1.gz", f"{DOC}/changelog.gz"):
            with self.subTest(path=path):
                with open(os.path.join(self.root, path), "rb") as f:
                    header = f.read(10)
                self.assertEqual(header[:3], b"\x1f\x8b\x08")
                self.assertEqual(header[3] & 0x08, 0, "a file name in the gzip header")
                self.assertEqual(header[4:8], b"\0\0\0\0", "a time stamp in the gzip header")
        with gzip.open(os.path.join(self.root, "usr/share/man/man1/zelquin-cli.1.gz")) as f:
            self.assertEqual(f.read(), page)
        with gzip.open(os.path.join(self.root, f"{DOC}/changelog.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith(f"zelquin-cli ({VERSION}) "))

    def test_maintainer_scripts_and_udev(self):
        bin_dir = os.path.join(WORK, "fake-bin")
        log = os.path.join(WORK, "udevadm.log")
        os.makedirs(bin_dir, exist_ok=True)
        fake = os.path.join(bin_dir, "udevadm")
        # Records each call; "control" fails unless a daemon is said to answer.
        with open(fake, "w") as f:
            f.write('#!/bin/sh\necho "$*" >> "$UDEVADM_LOG"\n'
                    'if [ "$1" = control ] && [ -z "$DAEMON" ]; then\n'
                    '    echo "Failed to send reload request: No such file or directory" >&2\n'
                    '    exit 1\nfi\n')
        os.chmod(fake, 0o755)
        # script, argument, udevadm: None (none installed), "down" or "up"; the calls expected
        cases = [
            ("postinst", "configure", "up", [RELOAD, TRIGGER]),
            ("postinst", "configure", "down", [RELOAD]),
            ("postinst", "configure", None, []),
            ("postinst", "abort-upgrade", "up", []),
            ("postrm", "remove", "up", [RELOAD, TRIGGER]),
            ("postrm", "purge", "up", [RELOAD, TRIGGER]),
            ("postrm", "remove", "down", [RELOAD]),
            ("postrm", "remove", None, []),
            ("postrm", "upgrade", "up", []),
        ]
        for script, argument, udevadm, calls in cases:
            with self.subTest(script=script, argument=argument, udevadm=udevadm):
                path = os.path.join(self.control, script)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o755)
                if os.path.exists(log):
                    os.remove(log)
                env = {"PATH": bin_dir if udevadm else os.path.join(WORK, "nothing"),
                       "UDEVADM_LOG": log}
                if udevadm == "up":
                    env["DAEMON"] = "1"
                done = run("/bin/sh", path, argument, env=env)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stderr, "")
                made = []
                if os.path.exists(log):
                    with open(log) as f:
                        made = f.read().split("\n")[:-1]
                self.assertEqual(made, calls)

    def test_lintian_finds_no_error_and_no_warning(self):
        done = run("lintian", "--fail-on", "error,warning", "--display-info", DEB)
        tags = [line for line in done.stdout.split("\n") if re.match(r"^[EWIP]: ", line)]
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual([t for t in tags if t.startswith(("E:", "W:"))], [])
        if tags:
            print("lintian's notes on this (unhardened) build:\n" + "\n".join(tags))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
