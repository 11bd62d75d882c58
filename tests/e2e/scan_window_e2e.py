#!/usr/bin/env python3
"""Long scans in the main window of the test build (TolvessaTestable.exe, which lists the modules
of a recorded table named by TOLVESSA_MODULE_TABLE) under Wine and Xvfb: "Exit" chosen during a
refresh lets the scan finish before the program ends, and the shared columns keep filling the
list when its vertical scroll bar comes and goes.

    scan_window_e2e.py --exe TolvessaTestable.exe --probe tolvessa_probe.exe --shots DIR
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

ARGS = None
# Menu and button ids, as the window's WM_COMMAND carries them.
REFRESH, EXIT, HIDE_MICROSOFT = 101, 1003, 1005
# Wine's hal.dll: a real file whose publisher is "Microsoft Corporation".
HAL = "\\SystemRoot\\system32\\hal.dll"


# How many large files end the table of the exit test.
BIG_LAST = 4


class ScanWindowTest(wine_run.FolderTest):
    FOLDER_PREFIX = "tolvessa-scan-"

    def setUp(self):
        super().setUp()
        self.g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        self.app = None

    def tearDown(self):
        if self.app and self.app.poll() is None:
            self.g.probe("close", "TForm2")
            try:
                self.app.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.app.kill()
                self.app.wait(timeout=30)
        os.environ.pop("TOLVESSA_PROBE_DESKTOP", None)

    def start(self, modules, desktop=None):
        """Starts the program over a table of these modules' paths; on the screen, or in a Wine
        virtual desktop ("name,WIDTHxHEIGHT"), whose windows the probe then looks at."""
        env = wine_run.write_module_table(os.path.join(self.dir, "modules.bin"), modules, ARGS.exe)
        if desktop:
            self.app = wine_run.start_exe("explorer", ["/desktop=" + desktop, ARGS.exe],
                                          cwd=self.dir, env=env)
            os.environ["TOLVESSA_PROBE_DESKTOP"] = desktop.split(",")[0]
        else:
            self.app = wine_run.start_exe(ARGS.exe, cwd=self.dir, env=env)
        self.g.wait_for(lambda: (self.g.rect("TForm2") or [0] * 9)[8] == 1, 60,
                        "the main window")

    def count(self):
        text, code = self.g.probe("count")
        return int(text.strip()) if code == 0 and text.strip() else -1

    def test_exit_during_the_first_refresh_lets_the_scan_finish(self):
        rows = 200  # a scan of some seconds
        # The last modules are large files: each digest takes a while, and the window answers
        # between them, so a watcher that misses one turn (a loaded machine) still sees the
        # scan reach its last modules, however its turns fall.
        big = []
        for i in range(BIG_LAST):
            big.append(os.path.join(self.dir, "big%d.sys" % i))
            with open(big[-1], "wb") as f:
                f.truncate(64 << 20)
        self.start([HAL] * (rows - BIG_LAST) + wine_run.device_paths(big))
        self.g.wait_for(lambda: self.count() > 0, 60, "the first rows")
        # Follows the window from now until it is gone.
        watch = subprocess.Popen([wine_run.WINE, ARGS.probe, "watch"], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        at_exit = self.count()
        self.assertEqual(self.g.probe("command", str(EXIT))[1], 0)
        self.assertLess(at_exit, rows // 2, "the scan was too short to be cut")
        self.assertEqual(self.app.wait(timeout=300), 0)
        out, _ = watch.communicate(timeout=60)
        most, _, status = out.decode("utf-8", "replace").strip().partition("\t")
        # The window answers between modules: at the latest before one of the last modules, or
        # after the scan ("   200 Modules Loaded") when it is read in time.
        self.assertGreaterEqual(int(most), rows - BIG_LAST + 1, status)
        self.assertIn(status, ("   Scanning...", "   %d Modules Loaded" % rows))

    def test_columns_fill_the_list_when_its_scroll_bar_comes(self):
        rows = 60  # more than the list shows: a vertical scroll bar
        # The columns grow past their least widths only in a list wider than 1285 pixels, so the
        # window must be wider than this screen allows: a virtual desktop of 1600 x 900.
        self.start([HAL] * rows, desktop="tolvessa-wide,1600x900")
        self.g.wait_status("   %d Modules Loaded" % rows)
        # Hide the Microsoft files: an empty list, no vertical scroll bar. Widened then, the
        # columns are shared over the whole width.
        self.g.probe("command", str(HIDE_MICROSOFT))
        self.g.wait_status("   0 Modules Loaded")
        self.assertEqual(self.g.probe("size", "TForm2", "1500", "600")[1], 0)
        time.sleep(1.0)
        empty = [int(v) for v in self.g.probe("columns")[0].split()]
        self.assertEqual(empty[1:3], [0, 0], "no scroll bar on the empty list")
        self.assertEqual(sum(empty[3:]), empty[0])
        # The rows come back, and with them the vertical scroll bar: the columns give up its
        # width instead of making the list scroll sideways.
        self.g.probe("command", str(HIDE_MICROSOFT))
        self.g.wait_status("   %d Modules Loaded" % rows)
        time.sleep(1.0)
        full = [int(v) for v in self.g.probe("columns")[0].split()]
        self.g.screenshot("columns-with-vertical-scroll-bar")
        self.assertEqual(full[1:3], [1, 0], "a vertical and no horizontal scroll bar")
        self.assertLess(full[0], empty[0])
        self.assertGreater(full[0], 1285, "wide enough for the shared columns to grow")
        self.assertEqual(sum(full[3:]), full[0])


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--probe", "--shots")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
