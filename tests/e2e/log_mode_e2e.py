#!/usr/bin/env python3
"""The unattended log mode of Tolvessa.exe under Wine, end to end.

Runs the Windows program (Tolvessa.exe or Tolvessa64.exe) with "-log" in a 64-bit Wine prefix (a
32-bit program there sees the world as on 64-bit Windows) and checks what it wrote: the report's exact form, and every cell of
every module against the host build's scan of the same module table over the same files, plus
digests computed here. A run that writes nothing fails: under a prefix that cannot run 32-bit
code Wine exits 0 without running anything.

The test build (TolvessaTestable.exe, which lists the modules of a recorded table named by
TOLVESSA_MODULE_TABLE) covers what Wine's three modules cannot: a table that cannot be read, and
a scan long enough to be asked to close in the middle.

Exit codes: 0 every report written; 1 the module table could not be read; 2 a report could not
be written; 3 both.

    log_mode_e2e.py --exe Tolvessa.exe|Tolvessa64.exe --testable TolvessaTestable.exe --probe tolvessa_probe.exe
                    --host-scan tolvessa_scan
"""
import hashlib
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402

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
        for label, line in zip(wine_run.REPORT_LABELS, block):
            assert line.startswith(label), (label, line)
            cells.append(line[len(label):])
        blocks.append(cells)
        if rest:
            assert rest[0] == "", "one empty line between blocks"
            rest = rest[1:]
            assert rest, "no empty line after the last block"
    return header, blocks


class LogModeTest(wine_run.FolderTest):
    def run_exe(self, *args, code=0):
        self.assertEqual(wine_run.run_exe(ARGS.exe, args, cwd=self.dir), code)

    def table(self, paths):
        """A recorded module table in the test folder; its Windows path."""
        path = os.path.join(self.dir, "modules.bin")
        wine_run.write_module_table(path, paths, ARGS.testable)
        return path

    def start_testable(self, table, *args):
        env = dict(os.environ, TOLVESSA_MODULE_TABLE=wine_run.windows_path(table))
        return wine_run.start_exe(ARGS.testable, args, cwd=self.dir, env=env)

    def probe(self, *args):
        return wine_run.run_exe(ARGS.probe, args, cwd=None, timeout=60)

    def files(self):
        return sorted(os.listdir(self.dir))

    def host_report(self):
        """The host build's report of Wine's module table over the prefix's files."""
        table = os.path.join(self.dir, "wine-modules.bin")
        layout = ["--layout", "64" if wine_run.is_64bit(ARGS.exe) else "32"]
        subprocess.run([ARGS.host_scan, "--record", table] + layout + wine_run.WINE_KERNEL_MODULES,
                       check=True)
        out = os.path.join(self.dir, "host.log")
        drive_c = os.path.join(wine_run.WINEPREFIX, "drive_c")
        subprocess.run([ARGS.host_scan, "--drive-c", drive_c, "--log", out] + layout + [table],
                       check=True, stdout=subprocess.DEVNULL)
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
            with open(wine_run.prefix_file(cells[1]), "rb") as f:
                self.assertEqual(cells[7], hashlib.md5(f.read()).hexdigest().upper(), cells)
        self.assertEqual(blocks[0][4], "Microsoft Corporation")
        # Wine's kernel addresses, with every digit the program's table holds.
        self.assertEqual([b[2] for b in blocks],
                         [wine_run.base_address(ARGS.exe, base)
                          for base in wine_run.WINE_KERNEL_BASES])
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
        # No path: nothing written, and the exit code says so.
        self.run_exe("-log", code=2)
        self.assertEqual(self.files(), [])
        # The first report goes to a file named "-log"; the second "-log" has no path.
        self.run_exe("-log", "-log", code=2)
        self.assertEqual(self.files(), ["-log"])
        _, blocks = blocks_of(wine_run.read_report(os.path.join(self.dir, "-log")))
        self.assertEqual(len(blocks), 3)

    def test_unwritable_path_is_silent_but_the_exit_code_tells(self):
        self.run_exe("-log", wine_run.windows_path(os.path.join(self.dir, "no", "such", "x.log")),
                     code=2)
        self.assertEqual(self.files(), [])

    def test_unreadable_module_table_leaves_an_older_report_and_says_so(self):
        older = os.path.join(self.dir, "out.log")
        with open(older, "w") as f:
            f.write("an older report\n")
        missing = os.path.join(self.dir, "no-such-table.bin")
        program = self.start_testable(missing, "-log", wine_run.windows_path(older))
        # No table, so no rows and no report: both failures.
        self.assertEqual(program.wait(timeout=120), 3)
        with open(older) as f:
            self.assertEqual(f.read(), "an older report\n")

    def test_table_unread_in_a_later_round_only(self):
        table = self.table(["\\SystemRoot\\system32\\hal.dll"] * 2)
        program = self.start_testable(table, "-log", "a.log", "-log", "b.log")
        # The first round writes a.log and pauses for a second; the table goes meanwhile, so the
        # second round cannot read it, and b.log holds the first round's rows.
        end = time.time() + 60
        while not os.path.exists(os.path.join(self.dir, "a.log")) and time.time() < end:
            time.sleep(0.02)
        os.remove(table)
        self.assertEqual(program.wait(timeout=120), 1)
        _, a = blocks_of(wine_run.read_report(os.path.join(self.dir, "a.log")))
        _, b = blocks_of(wine_run.read_report(os.path.join(self.dir, "b.log")))
        self.assertEqual(len(a), 2)
        self.assertEqual(b, a)
        # The recorded addresses, above 4 GiB for a 64-bit program, whole.
        self.assertEqual([cells[2] for cells in a],
                         [wine_run.base_address(ARGS.testable, base)
                          for base in wine_run.table_bases(2, ARGS.testable)])

    def test_close_during_the_scan_waits_for_the_whole_report(self):
        count = 200  # a scan of some seconds
        table = self.table(["\\SystemRoot\\system32\\hal.dll"] * count)
        out = os.path.join(self.dir, "out.log")
        program = self.start_testable(table, "-log", wine_run.windows_path(out))
        # The hidden main window exists from before the scan; a close request posted to it is
        # read by the scan's message handling.
        end = time.time() + 60
        while self.probe("close", "TForm2") != 0:
            self.assertLess(time.time(), end, "no main window")
            self.assertIsNone(program.poll(), "the program ended before it was asked to close")
            time.sleep(0.1)
        self.assertFalse(os.path.exists(out), "the close came after the scan: make it longer")
        self.assertEqual(program.wait(timeout=300), 0)
        _, blocks = blocks_of(wine_run.read_report(out))
        self.assertEqual(len(blocks), count)
        self.assertEqual([b[0] for b in blocks], [str(i) for i in range(count)])


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--testable", "--probe", "--host-scan")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
