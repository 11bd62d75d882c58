#!/usr/bin/env python3
"""The include-direction check: the product's sources pass it, and each kind of wrong-way include
in a small tree of its own fails it, naming the file and line."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "include_layers.py")
SOURCE_ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))

# (the including file, the include line, whether the check lets it pass)
CASES = [
    ("trust/a.cpp", '#include "inventory/text.h"', True),
    ("trust/a.cpp", '#include "trust/b.h"', True),
    ("trust/a.cpp", '#include "b.h"', True),
    ("inventory/a.h", '#include "tolvessa_product.h"', True),
    ("report/a.h", '#include "trust/vulnerable_lists.h"', True),
    ("commands/a.h", '#include "report/driver_report.h"', True),
    ("shell/a.cpp", '#include "report/exports.h"', True),
    ("shell/a.cpp", "#include <vector>", True),
    ("shell/win32/a.cpp", '#include "platform/win32/win32_shell.h"', True),
    ("shell/win32/a.cpp", "#include <windows.h>", True),
    ("platform/host/a.cpp", '#include "shell/digest_pool.h"', True),
    ("platform/win32/a.cpp", '#include "commands/file_commands.h"', True),
    ("platform/host/a.cpp", "#include <openssl/evp.h>", True),
    ("inventory/a.h", '#include "trust/file_verdict.h"', False),
    ("trust/a.cpp", '  #  include "report/exports.h"', False),
    ("report/a.cpp", '#include "shell/log_mode.h"', False),
    ("commands/a.cpp", '#include "shell/win32/main_window.h"', False),
    ("shell/a.cpp", '#include "shell/win32/main_window.h"', False),
    ("shell/a.cpp", '#include "platform/win32/win32_shell.h"', False),
    ("inventory/a.cpp", '#include "platform/host/posix_file.h"', False),
    ("trust/a.cpp", "#include <windows.h>", False),
    ("inventory/a.cpp", "#include <unistd.h>", False),
    ("platform/host/a.cpp", '#include "platform/win32/win32_handles.h"', False),
    ("platform/win32/a.cpp", '#include "shell/win32/main_window.h"', False),
    ("shell/win32/a.cpp", '#include "platform/host/posix_file.h"', False),
    ("trust/a.cpp", '#include "tools/scan_worker.h"', False),
]


def run_check(root):
    return subprocess.run([sys.executable, CHECK, "--root", root], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)


class IncludeLayersTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="include_layers_")
        self.addCleanup(shutil.rmtree, self.root)

    def write(self, relative, text):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def test_the_product_sources_include_only_downwards(self):
        result = run_check(SOURCE_ROOT)
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_each_include_passes_or_fails_by_its_rooms(self):
        for relative, line, passes in CASES:
            with self.subTest(file=relative, line=line):
                shutil.rmtree(self.root)
                self.write(relative, "// a source\n\n" + line + "\n")
                result = run_check(self.root)
                if passes:
                    self.assertEqual(result.returncode, 0, result.stdout)
                else:
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn(relative + ":3:", result.stdout)

    def test_every_wrong_include_of_a_tree_is_named(self):
        self.write("inventory/a.h", '#include "trust/b.h"\n#include "inventory/c.h"\n')
        self.write("trust/b.h", '#include "shell/d.h"\n')
        self.write("shell/win32/e.cpp", '#include "trust/b.h"\n')
        result = run_check(self.root)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), [
            'inventory/a.h:1: #include "trust/b.h": inventory may not include trust',
            'trust/b.h:1: #include "shell/d.h": trust may not include shell',
        ])

    def test_comments_and_text_are_no_includes(self):
        self.write("inventory/a.h", '// #include "shell/d.h" once\nconst char* s = "trust/b.h";\n')
        self.assertEqual(run_check(self.root).returncode, 0)


if __name__ == "__main__":
    unittest.main()
