#!/usr/bin/env python3
"""The unattended log mode of Tolvessa.exe under Wine, end to end.

Runs the Windows program with "-log" in a 64-bit Wine prefix (a 32-bit program there sees the
world as on 64-bit Windows) and checks what it wrote: the report's exact form, and every cell of
every module against the host build's scan of the same module table over the same files, plus
digests computed here. A run that writes nothing fails: under a prefix that cannot run 32-bit
code Wine exits 0 without running anything.

    log_mode_e2e.py --exe Tolvessa.exe --host-scan tolvessa_scan
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402

LABELS = ["Load Order: ", "Image Name: ", "Base Address: ", "Image Size: ", "Publisher: ",
          "Description: ", "Version: ", "MD5 Hash: ", "Hidden: ", "Exists: "]
# The modules Wine's kernel reports, in its own words.
WINE_MODULES = ["\\SystemRoot\\system32\\ntoskrnl.exe", "\\SystemRoot\\system32\\hal.dll",
                "\\SystemRoot\\system32\\drivers\\mountmgr.sys"]

ARGS = None


def blocks_of(lines):
    """Splits a log-style report into its header and its blocks of ten cells, checking the
    labels and the one empty line between blocks (and none after the last)."""
    assert len(lines) >= 6, lines
    header, rest = lines[:6], lines[6:]
    blocks = []
    while rest:
        block, rest = rest[:10], rest[10:]
        assert len(block) == 10, block
        cells = []
        for label, line in zip(LABELS, block):
            assert line.startswith(label), (label, line)
            cells.append(line[len(label):])
        blocks.append(cells)
        if rest:
            assert rest[0] == "", "one empty line between blocks"
            rest = rest[1:]
            assert rest, "no empty line after the last block"
    return header, blocks


class LogModeTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-e2e-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def run_exe(self, *args):
        code = wine_run.run_exe(ARGS.exe, args, cwd=self.dir)
        self.assertEqual(code, 0)

    def files(self):
        return sorted(os.listdir(self.dir))

    def host_report(self):
        """The host build's report of Wine's module table over the prefix's files."""
        table = os.path.join(self.dir, "wine-modules.bin")
        subprocess.run([ARGS.host_scan, "--record", table] + WINE_MODULES, check=True)
        out = os.path.join(self.dir, "host.log")
        drive_c = os.path.join(wine_run.WINEPREFIX, "drive_c")
        subprocess.run([ARGS.host_scan, "--drive-c", drive_c, "--log", out, table], check=True,
                       stdout=subprocess.DEVNULL)
        lines = wine_run.read_report(out)
        os.remove(out)
        os.remove(table)
        return lines

    def test_report_of_every_loaded_module(self):
        self.run_exe("-log", wine_run.windows_path(os.path.join(self.dir, "out.log")))
        lines = wine_run.read_report(os.path.join(self.dir, "out.log"))
        header, blocks = blocks_of(lines)
        self.assertEqual(header, ["Corvane Tolvessa", "www.corvane.example", "", "", "", ""])
        self.assertEqual(len(blocks), 3)
        names = [b[1] for b in blocks]
        self.assertEqual(names, ["C:\\windows\\system32\\ntoskrnl.exe",
                                 "C:\\windows\\system32\\hal.dll",
                                 "C:\\windows\\system32\\drivers\\mountmgr.sys"])
        for cells in blocks:
            self.assertEqual(cells[9], "True", cells)  # the real System32, not SysWOW64
            self.assertEqual(cells[8], "False", cells)
            host_file = os.path.join(wine_run.WINEPREFIX, "drive_c",
                                     *cells[1][3:].split("\\"))
            with open(host_file, "rb") as f:
                self.assertEqual(cells[7], hashlib.md5(f.read()).hexdigest().upper(), cells)
        self.assertEqual(blocks[0][4], "Microsoft Corporation")
        # Every cell, as the host build reads the same files.
        self.assertEqual(lines, self.host_report())

    def test_case_sensitive_switch_starts_interactively(self):
        for switch in ("-LOG", "-Log"):
            with wine_run.Interactive(ARGS.exe, [switch, "x.log"], cwd=self.dir) as program:
                self.assertTrue(program.window, "no main window came up")
                self.assertEqual(self.files(), [])
        self.assertEqual(self.files(), [])

    def test_two_reports_second_holds_modules_twice(self):
        self.run_exe("-log", "a.log", "-log", "b.log")
        _, a = blocks_of(wine_run.read_report(os.path.join(self.dir, "a.log")))
        _, b = blocks_of(wine_run.read_report(os.path.join(self.dir, "b.log")))
        self.assertEqual(len(a), 3)
        self.assertEqual(b, a + a)

    def test_log_alone_and_log_log(self):
        self.run_exe("-log")
        self.assertEqual(self.files(), [])
        # The first report goes to a file named "-log"; the second "-log" has no path.
        self.run_exe("-log", "-log")
        self.assertEqual(self.files(), ["-log"])
        _, blocks = blocks_of(wine_run.read_report(os.path.join(self.dir, "-log")))
        self.assertEqual(len(blocks), 3)

    def test_unwritable_path_is_silent(self):
        self.run_exe("-log", wine_run.windows_path(os.path.join(self.dir, "no", "such", "x.log")))
        self.assertEqual(self.files(), [])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--host-scan", required=True)
    ARGS, rest = parser.parse_known_args()
    if not wine_run.WINEPREFIX:
        sys.exit("WINEPREFIX is not set")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
