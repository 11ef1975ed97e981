#!/usr/bin/env python3
"""The layer check, run on small trees: what it lets through and what it stops."""
import importlib.util
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "check_layers.py")
spec = importlib.util.spec_from_file_location("check_layers", SCRIPT)
check_layers = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_layers)


class LayerCheckTest(unittest.TestCase):
    def tree(self, files):
        """A repository of `files` (path -> text) in a fresh folder."""
        root = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(root))
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as out:
                out.write(text)
        return root

    BASE = {
        "os/os.h": "#pragma once\n#include <cstdint>\n",
        "link/camera.h": '#include "os/os.h"\n',
        "host/volume.cpp": '#include "link/camera.h"\n#include "os/os.h"\n',
        "panel/panel.cpp": '#include "host/volume.h"\n#include "panel/panel.h"\n',
        "app/dlg.cpp": '#include "panel/panel.h"\n#include "app/afx/afxwin.h"\n',
        "app/app.rc": '#include "resource.h"\n',
        "app/resource.h": '#include "panel/control_ids.h"\n',
        "link/protocol.h": "#pragma once\n#include <array>\n",
        "link/pacing.h": '#include "link/protocol.h"\n',
        "cli/main.cpp": '#include "link/protocol.h"\n#include "link/pacing.h"\n',
        "cli/backend_seam.cpp": '#include "link/discovery.h"\n#include "host/volume.h"\n',
        "sim/world.h": '#include "os/os.h"\n',
        "tests/t.cpp": '#include "app/dlg.h"\n#include "sim/world.h"\n',
    }

    def test_includes_that_go_down_pass(self):
        self.assertEqual(check_layers.violations(self.tree(self.BASE)), [])

    def test_includes_that_do_not_go_down_are_reported(self):
        cases = [
            ("link includes panel (upward)", "link/transport.cpp", '#include "panel/panel.h"\n'),
            ("host includes panel (the loop there once was)", "host/device_change.cpp",
             '#include "panel/panel.h"\n'),
            ("panel includes app (upward)", "panel/panel.cpp", '#include "app/resource.h"\n'),
            ("os includes link (upward)", "os/os_win32.cpp", '#include "link/transport.h"\n'),
            ("app includes cli (beside)", "app/dlg.cpp", '#include "cli/report.h"\n'),
            ("cli includes app (beside)", "cli/main.cpp", '#include "app/resource.h"\n'),
            ("sim includes link", "sim/world.cpp", '#include "link/camera.h"\n'),
            ("product includes the simulator", "link/camera.cpp", '#include "sim/world.h"\n'),
            ("product includes tests", "panel/panel.cpp", '#include "tests/fakes/fake.h"\n'),
            ("relative include into a layer above", "host/x.cpp", '#include "../app/resource.h"\n'),
            ("a deeper folder counts as its layer", "os/linux/sg.cpp", '#include "link/scsi.h"\n'),
            ("the protocol includes os", "link/protocol.cpp", '#include "os/bytes.h"\n'),
            ("the protocol includes the transport", "link/pacing.h",
             '#include "link/transport.h"\n'),
            ("the tool includes the link beyond the protocol", "cli/commands.cpp",
             '#include "link/camera.h"\n'),
            ("the tool includes host", "cli/backend_linux.cpp", '#include "host/volume.h"\n'),
        ]
        for name, path, text in cases:
            with self.subTest(name):
                files = dict(self.BASE)
                files[path] = files.get(path, "") + text
                found = check_layers.violations(self.tree(files))
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(path + ":"), found[0])

    def test_the_command_fails_on_a_violation_and_passes_without(self):
        clean = self.tree(self.BASE)
        self.assertEqual(check_layers.main(["check_layers.py", clean]), 0)
        broken = dict(self.BASE)
        broken["link/camera.h"] += '#include "host/volume.h"\n'
        self.assertEqual(check_layers.main(["check_layers.py", self.tree(broken)]), 1)


if __name__ == "__main__":
    unittest.main()
