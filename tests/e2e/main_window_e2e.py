#!/usr/bin/env python3
"""The main window of Tolvessa.exe under Wine and Xvfb, end to end: start-up refresh,
highlighting, the context menu's enabling, clipboard, Export, About, minimum size, Exit.

The program's state is read from outside by the probe (status text, rows, window rectangles),
its menus are driven from the keyboard and mouse with xdotool, and what cannot be read
otherwise (which context-menu items are greyed, the highlight colour) is read from the screen's
pixels. Every test leaves a screenshot in the screenshot folder.

    main_window_e2e.py --exe Tolvessa.exe --probe tolvessa_probe.exe --shots DIR
"""
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

ARGS = None
HIGHLIGHT = (227, 191, 136)  # 0x0088BFE3 in 0x00BBGGRR
WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0x00C00000, 0x00080000, 0x00040000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_EX_DLGMODALFRAME = 0x00020000, 0x00010000, 0x00000001


class MainWindowTest(unittest.TestCase):
    """One run of the program for the whole class; the tests run in the order of their names."""

    @classmethod
    def setUpClass(cls):
        cls.g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        cls.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-gui-")
        cls.app = wine_run.start_exe(ARGS.exe, cwd=cls.tmp.name)
        cls.window = wine_run.main_window()

    @classmethod
    def tearDownClass(cls):
        wine_run.stop_exe(cls.app)
        cls.tmp.cleanup()

    # Helpers --------------------------------------------------------------------------

    def list_origin(self):
        r = self.g.control("SysListView32")
        return r[4], r[5]  # client area of the list, on the screen

    def row_has_highlight(self, index):
        x, y = self.g.row_point(index)
        pixels = self.g.pixels(x + 250, y - 3, 200, 6)  # the row's empty Publisher area and more
        return any(p == HIGHLIGHT for row in pixels for p in row)

    def caption_point(self):
        main = self.g.rect("TForm2")
        return main[0] + 300, main[1] + 10

    def drag(self, x, y, dx, dy):
        """Presses the left button at (x, y) and moves by (dx, dy) in steps, as a hand would."""
        self.g.xdo("mousemove", "--sync", x, y)
        time.sleep(0.3)
        self.g.xdo("mousedown", 1)
        time.sleep(0.3)
        for step in range(1, 11):
            self.g.xdo("mousemove", x + dx * step // 10, y + dy * step // 10)
            time.sleep(0.1)
        time.sleep(0.3)
        self.g.xdo("mouseup", 1)
        time.sleep(1.0)

    def open_export_dialog(self):
        """Clicks "Export" and gives the focus to the save dialog that comes up."""
        button = self.g.control("Button")  # "Refresh" is the first button; "Export" follows
        self.g.click(button[0] + 156 - 9 + 70, button[1] + 13)
        dialog = wine_run.find_windows("Save file as...", timeout=30)
        self.assertTrue(dialog, "no save dialog")
        self.g.xdo("windowfocus", "--sync", dialog[0])

    def popup_enabled(self, x, y):
        self.g.click(x, y, 3)
        time.sleep(0.6)
        self.g.xdo("mousemove", 5, 5)  # off the menu, so no item is hovered
        time.sleep(0.4)
        enabled = gui.menu_items_enabled(self.g.pixels(x, y, 190, 205))
        return enabled

    # Tests ----------------------------------------------------------------------------

    def test_1_startup_refresh_fills_the_list(self):
        self.g.wait_status("   3 Modules Loaded")
        rows = self.g.rows()
        self.assertEqual([r[0] for r in rows], ["0", "1", "2"])
        self.assertEqual(rows[2][1], "C:\\windows\\system32\\drivers\\mountmgr.sys")
        # Wine's kernel addresses, with all the digits of the program's table (16 in Tolvessa64).
        self.assertEqual([r[2] for r in rows], [wine_run.base_address(ARGS.exe, base)
                                                for base in wine_run.WINE_KERNEL_BASES])
        main = self.g.rect("TForm2")
        self.assertEqual(main[6:8], (918, 453), "client area at start")
        lv = self.g.control("SysListView32")
        self.assertEqual((lv[2] - lv[0], lv[3] - lv[1]), (898, 270), "the list at the start size")
        # "Base Address" is 115 wide for 8 digits; wider in Tolvessa64, whose addresses have 16.
        base_width = int(self.g.probe("columns")[0].split()[3 + 2])
        if wine_run.is_64bit(ARGS.exe):
            self.assertGreater(base_width, 115)
        else:
            self.assertEqual(base_width, 115)
        self.assertEqual(self.g.selected(), -1)
        self.g.screenshot("main-window")

    def test_2_highlight_refills_and_colours_suspicious_rows(self):
        self.assertFalse(self.row_has_highlight(2))
        self.g.menu(self.window, 1, 1)  # Options > Highlight Suspicious Modules
        self.g.wait_status("   3 Modules Loaded")
        time.sleep(1.0)
        # mountmgr.sys has no publisher: suspicious; the two Microsoft files are not.
        self.assertTrue(self.row_has_highlight(2))
        self.assertFalse(self.row_has_highlight(0))
        self.assertFalse(self.row_has_highlight(1))
        self.g.screenshot("highlight")
        self.g.menu(self.window, 1, 1)  # and off again
        self.g.wait_status("   3 Modules Loaded")
        time.sleep(1.0)
        self.assertFalse(self.row_has_highlight(2))

    def test_3_context_menu_enabling(self):
        x, y = self.list_origin()
        # Below the rows: nothing selected. Only "Copy All" and the two deletions.
        empty = self.popup_enabled(x + 200, y + 150)
        self.g.screenshot("context-menu-no-selection")
        self.g.keys(self.window, "Escape")
        self.assertEqual(empty, [False, False, False, False, False, True, False, True, True])
        # On a row: it is selected, and everything is enabled.
        rx, ry = self.g.row_point(1)
        on_row = self.popup_enabled(rx, ry)
        self.g.screenshot("context-menu-row")
        self.g.keys(self.window, "Escape")
        self.assertEqual(self.g.selected(), 1)
        self.assertEqual(on_row, [True] * 9)

    def test_4_copy_entire_line(self):
        self.g.set_clipboard("before")
        rx, ry = self.g.row_point(1)
        self.g.click(rx, ry, 3)
        time.sleep(0.5)
        # Show File Properties, Open Containing Folder, Copy to Clipboard > Entire Line.
        self.g.keys(self.window, "Down", "Down", "Down", "Right", "Return")
        time.sleep(0.8)
        row = self.g.rows()[1]
        expected = "\n".join(label + cell for label, cell in zip(wine_run.REPORT_LABELS, row))
        # Windows text has CR LF; the X clipboard hands it over with LF.
        self.assertEqual(self.g.clipboard().replace("\r\n", "\n"), expected)
        self.assertEqual(len(expected.split("\n")), 10)

    def test_5_export_replaces_the_file_without_asking(self):
        folder = tempfile.mkdtemp(prefix="export-", dir=self.tmp.name)
        target = os.path.join(folder, "KernelDrivers.log")
        with open(target, "w") as f:
            f.write("an older and longer content that must go away\n" * 20)
        self.open_export_dialog()
        self.g.screenshot("export-dialog")
        self.g.xdo("key", "--clearmodifiers", "ctrl+a")
        self.g.xdo("type", "--delay", "20", wine_run.windows_path(target))
        self.g.xdo("key", "Return")
        self.g.wait_window_gone("Save file as...")
        time.sleep(1.0)
        self.assertEqual(wine_run.read_report(target), self.export_report_lines())

    def export_report_lines(self):
        """What "Export" writes for the rows on the screen now."""
        expected = ["Corvane Tolvessa", "www.corvane.example", "", "3 Modules Loaded", "", ""]
        for row in self.g.rows():
            expected += [label + cell for label, cell in zip(wine_run.REPORT_LABELS, row)] + [""]
        return expected

    def test_5a_export_to_the_proposed_name_makes_the_file(self):
        # The dialog proposes "KernelDrivers" on the desktop, where no such file is yet.
        target = os.path.join(wine_run.desktop_folder(), "KernelDrivers.log")
        self.assertFalse(os.path.exists(target), "move %s away for this test" % target)
        try:
            self.open_export_dialog()
            self.g.xdo("key", "Return")
            self.g.wait_window_gone("Save file as...")
            self.g.wait_for(lambda: os.path.exists(target), 10, "the report")
            time.sleep(0.5)
            self.assertEqual(wine_run.read_report(target), self.export_report_lines())
        finally:
            if os.path.exists(target):
                os.remove(target)

    def test_5b_the_chosen_filter_decides_the_form(self):
        # Alt+T reaches the dialog's list of file types: the second filter is CSV, the third JSON.
        for downs, name in ((1, "drivers.csv"), (2, "drivers.json")):
            target = os.path.join(tempfile.mkdtemp(prefix="export-", dir=self.tmp.name), name)
            self.open_export_dialog()
            self.g.xdo("key", "--clearmodifiers", "alt+t")
            for _ in range(downs):
                self.g.xdo("key", "Down")
            self.g.screenshot("export-filter-%d" % downs)
            self.g.xdo("key", "--clearmodifiers", "alt+n")
            self.g.xdo("key", "--clearmodifiers", "ctrl+a")
            self.g.xdo("type", "--delay", "20", wine_run.windows_path(target))
            self.g.xdo("key", "Return")
            self.g.wait_window_gone("Save file as...")
            self.g.wait_for(lambda: os.path.exists(target), 10, "the export")
            time.sleep(0.5)
            with open(target, "rb") as f:
                data = f.read().decode("utf-8")
            rows = self.g.rows()
            if name.endswith(".csv"):
                import csv
                import io
                table = list(csv.reader(io.StringIO(data, newline="")))
                self.assertEqual(table[0][:2], ["Load Order", "Image Name"])
                self.assertEqual([r[:10] for r in table[1:]], [r[:10] for r in rows])
            else:
                import json
                document = json.loads(data)
                self.assertEqual([m["imageName"] for m in document["modules"]],
                                 [r[1] for r in rows])

    def test_6_about_is_centred_over_the_main_window(self):
        for move in (None, (-40, -60)):
            if move:
                before = self.g.rect("TForm2")
                self.drag(*self.caption_point(), *move)
                after = self.g.rect("TForm2")
                self.assertEqual((after[0] - before[0], after[1] - before[1]), move)
            self.g.menu(self.window, 2, 2)  # Help > About
            about = self.g.wait_for(lambda: (self.g.rect("TFrmAbout") or [0] * 9)[8] == 1 and
                                    self.g.rect("TFrmAbout"), 30, "the About window")
            main = self.g.rect("TForm2")
            self.assertEqual(about[6:8], (514, 288))
            # A single fixed border, with only the system menu and the close box.
            style, ex_style = (int(v, 16) for v in self.g.probe("styles", "TFrmAbout")[0].split())
            self.assertEqual(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU)
            self.assertEqual(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0)
            self.assertEqual(ex_style & WS_EX_DLGMODALFRAME, 0)
            width, height = about[2] - about[0], about[3] - about[1]
            left = max(0, main[0] + int((main[2] - main[0] - width) / 2))
            top = max(0, main[1] + int((main[3] - main[1] - height) / 2))
            self.assertEqual(about[0:2], (left, top))
            self.g.screenshot("about" if not move else "about-moved")
            # Its close box (the only caption button) hides it again.
            self.g.click(about[2] - 12, about[1] + 12)
            self.g.wait_for(lambda: self.g.rect("TFrmAbout")[8] == 0, 30, "About to close")

    def test_7_minimum_size_holds(self):
        main = self.g.rect("TForm2")
        # A drag of the frame's bottom-right corner far below the least size.
        self.drag(main[2] - 3, main[3] - 3, -600, -400)
        small = self.g.rect("TForm2")
        self.g.screenshot("minimum-size")
        self.assertEqual((small[2] - small[0], small[3] - small[1]), (900, 300))

    def test_8_exit_ends_the_program(self):
        self.g.menu(self.window, 0, 3)  # Menu > Exit (after the separator)
        self.assertEqual(self.app.wait(timeout=30), 0)


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--probe", "--shots")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
