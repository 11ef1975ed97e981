#!/usr/bin/env python3
"""The Windows release archive as scripts/release_zip.py writes it.

    release_zip_test.py RELEASE_ZIP_PY README_TEMPLATE VERSION

Two small stand-ins for the programs are packed, and the archive is checked as a Windows user and
a checker of the release meet it: the entries and their order, README.txt with CR LF line ends
only and the version filled in, SHA256SUMS that `sha256sum -c` accepts for the unpacked files,
every entry dated with the given time and with mode 0644. Then it is made again under another
umask, time zone and folder, and must be the same bytes; and a different time must change them
(the date is really the one given).
"""

import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

SCRIPT, TEMPLATE, VERSION = sys.argv[1:4]
EPOCH = 1765400000  # 2025-12-10 20:53:20 UTC


def make(folder, epoch=EPOCH, umask=0o022, tz="UTC"):
    os.makedirs(folder, exist_ok=True)
    programs = []
    for name, data in (("Zelquin.exe", b"MZ panel\0\r\n\xff"), ("zelquin-cli.exe", b"MZ tool\n")):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        programs.append(path)
    archive = os.path.join(folder, f"zelquin-{VERSION}-windows.zip")
    env = dict(os.environ, TZ=tz)
    subprocess.run([sys.executable, SCRIPT, archive, VERSION, str(epoch), TEMPLATE, *programs],
                   check=True, env=env, cwd=folder, preexec_fn=lambda: os.umask(umask))
    with open(archive, "rb") as f:
        return archive, f.read()


class Archive(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.archive, cls.bytes = make(os.path.join(cls.temp.name, "a"))

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def test_entries_in_order_with_fixed_date_and_mode(self):
        with zipfile.ZipFile(self.archive) as z:
            infos = z.infolist()
        self.assertEqual([i.filename for i in infos],
                         ["Zelquin.exe", "zelquin-cli.exe", "README.txt", "SHA256SUMS"])
        for info in infos:
            with self.subTest(entry=info.filename):
                self.assertEqual(info.date_time, (2025, 12, 10, 20, 53, 20))
                self.assertEqual(info.external_attr >> 16, 0o100644)
                self.assertEqual(info.extra, b"")
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)

    def test_readme_has_windows_line_ends_and_the_version(self):
        with zipfile.ZipFile(self.archive) as z:
            readme = z.read("README.txt")
        self.assertGreater(readme.count(b"\r\n"), 10)
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"), "a line end without CR")
        self.assertEqual(readme.count(b"\r"), readme.count(b"\r\n"))
        text = readme.decode("utf-8")
        self.assertTrue(text.startswith(f"Zelquin {VERSION} for Windows\r\n"), text[:60])
        self.assertNotIn("@", text)
        title, underline = text.split("\r\n")[:2]
        self.assertEqual(underline, "=" * len(title))

    def test_sha256sums_checks_the_unpacked_files(self):
        folder = os.path.join(self.temp.name, "unpacked")
        with zipfile.ZipFile(self.archive) as z:
            z.extractall(folder)
            listed = z.read("SHA256SUMS").decode("ascii").split("\n")[:-1]
        self.assertEqual([line.split("  ")[1] for line in listed],
                         ["Zelquin.exe", "zelquin-cli.exe", "README.txt"])
        checked = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=folder,
                                 capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        with open(os.path.join(folder, "Zelquin.exe"), "ab") as f:
            f.write(b"changed")
        self.assertNotEqual(subprocess.run(["sha256sum", "--check", "SHA256SUMS"], cwd=folder,
                                           capture_output=True).returncode, 0)

    def test_same_bytes_whoever_makes_it_where_and_when(self):
        variants = {"umask 077": {"umask": 0o077}, "time zone": {"tz": "America/Los_Angeles"},
                    "another folder": {}}
        for what, options in variants.items():
            with self.subTest(variant=what):
                _, data = make(os.path.join(self.temp.name, what.replace(" ", "-")), **options)
                self.assertEqual(data, self.bytes)
        _, later = make(os.path.join(self.temp.name, "later"), epoch=EPOCH + 3600)
        self.assertNotEqual(later, self.bytes)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
