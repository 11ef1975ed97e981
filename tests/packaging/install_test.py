#!/usr/bin/env python3
"""What `cmake --install` puts where, for a Linux user.

    install_test.py CMAKE BUILD_DIR SOURCE_DIR WORK_DIR

Installs the build with the prefix /usr into WORK_DIR (DESTDIR) and checks that exactly the
expected files are there, where udev, man, bash-completion and a reader of the documentation
look for them, with their modes, that the shipped files are the tree's, and that the installed
program runs.
"""

import os
import shutil
import stat
import subprocess
import sys
import unittest

CMAKE, BUILD, SOURCE, WORK = sys.argv[1:5]

# Installed path: (mode, the tree's file it is a copy of, or None).
EXPECTED = {
    "usr/bin/zelquin-cli": (0o755, None),
    "usr/lib/udev/rules.d/70-zelquin-camera.rules": (0o644, "packaging/udev/70-zelquin-camera.rules"),
    "usr/lib/udev/zelquin-camera-mark": (0o755, "packaging/udev/zelquin-camera-mark"),
    "usr/share/man/man1/zelquin-cli.1": (0o644, None),
    "usr/share/bash-completion/completions/zelquin-cli": (0o644, "packaging/bash-completion/zelquin-cli"),
    "usr/share/doc/zelquin-cli/README.md": (0o644, "README.md"),
    "usr/share/doc/zelquin-cli/cli.md": (0o644, "docs/cli.md"),
    "usr/share/doc/zelquin-cli/linux.md": (0o644, "docs/linux.md"),
    "usr/share/doc/zelquin-cli/zelquin-cli.schema.json": (0o644, "docs/zelquin-cli.schema.json"),
}


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        env = dict(os.environ, DESTDIR=WORK)
        subprocess.run([CMAKE, "--install", BUILD, "--prefix", "/usr"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        cls.files = {}
        for folder, _, names in os.walk(WORK):
            for name in names:
                path = os.path.join(folder, name)
                cls.files[os.path.relpath(path, WORK)] = os.lstat(path).st_mode

    def test_exactly_the_expected_files(self):
        self.assertEqual(sorted(self.files), sorted(EXPECTED))

    def test_modes_and_contents(self):
        for path, (mode, source) in EXPECTED.items():
            with self.subTest(path=path):
                self.assertIn(path, self.files)
                self.assertTrue(stat.S_ISREG(self.files[path]))
                self.assertEqual(oct(stat.S_IMODE(self.files[path])), oct(mode))
                if source:
                    with open(os.path.join(WORK, path), "rb") as a, \
                            open(os.path.join(SOURCE, source), "rb") as b:
                        self.assertEqual(a.read(), b.read())

    def test_installed_program_runs(self):
        done = subprocess.run([os.path.join(WORK, "usr/bin/zelquin-cli"), "--version"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(done.stdout.startswith("zelquin-cli "), done.stdout)

    def test_manual_page_is_the_tools(self):
        with open(os.path.join(WORK, "usr/share/man/man1/zelquin-cli.1"), encoding="utf-8") as f:
            page = f.read()
        self.assertIn('.TH ZELQUIN-CLI "1"', page)
        self.assertIn(".SH COMMANDS", page)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
