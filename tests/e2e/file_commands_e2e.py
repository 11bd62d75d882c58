#!/usr/bin/env python3
"""The file commands of the list's context menu, end to end under Wine and Xvfb: Copy All,
Copy Selected, Delete File, Delete File on Reboot, Open Containing Folder, the property sheet and
the web search.

The test build of the program (TolvessaTestable.exe) lists the files of a recorded module table
named by TOLVESSA_MODULE_TABLE, so the commands act on files this test makes; shell launches go to
the TOLVESSA_SHELL_LOG file instead of the shell. Menus are driven from the keyboard, the folder
picker with the mouse and type-ahead, message boxes are read with the probe and answered with
Enter, as a user would.

    file_commands_e2e.py --exe TolvessaTestable.exe --probe tolvessa_probe.exe --shots DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

ARGS = None
# The command identifiers of the context menu's items (the menu itself, its enabling and its
# keyboard use are tested with the main window; here the commands are chosen the way the menu
# chooses them, by a WM_COMMAND to the main window).
SHOW_PROPERTIES, OPEN_FOLDER, SEARCH_FILE_NAME = 1101, 1102, 1109
COPY_ALL, COPY_SELECTED, DELETE, DELETE_ON_REBOOT = 1113, 1114, 1115, 1116


class FileCommandsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        cls.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-cmd-")
        root = cls.tmp.name
        cls.files = {}
        for rel, content in [("src/a.sys", "alpha"), ("src/b.sys", "bravo"),
                             ("other/a.sys", "other alpha"), ("victim.sys", "victim"),
                             ("reboot.sys", "reboot")]:
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(content)
            cls.files[rel] = path
        # A driver only in the real system32\drivers, which a 32-bit program on 64-bit Windows
        # reaches with the redirection off, and its shell only by the Sysnative alias.
        cls.native = os.path.join(wine_run.WINEPREFIX, "drive_c", "windows", "system32",
                                  "drivers", "tolvessa-native-%d.sys" % os.getpid())
        with open(cls.native, "w") as f:
            f.write("native")
        # Rows: 0 src\a.sys, 1 src\b.sys, 2 other\a.sys, 3 victim.sys, 4 reboot.sys, 5 a bare
        # name found nowhere (its folder part is empty), and 6 the driver in the real System32.
        cls.paths = [wine_run.windows_path(cls.files[r]) for r in
                     ("src/a.sys", "src/b.sys", "other/a.sys", "victim.sys", "reboot.sys")]
        kernel = (["\\??\\" + p for p in cls.paths] + ["tolvessa-nowhere.sys"] +
                  ["\\SystemRoot\\system32\\drivers\\" + os.path.basename(cls.native)])
        cls.table = os.path.join(root, "modules.bin")
        env = wine_run.write_module_table(cls.table, kernel, ARGS.exe)
        cls.shell_log = os.path.join(root, "shell.log")
        env["TOLVESSA_SHELL_LOG"] = wine_run.windows_path(cls.shell_log)
        cls.app = wine_run.start_exe(ARGS.exe, cwd=root, env=env)
        cls.window = wine_run.main_window()
        cls.g.wait_status("   7 Modules Loaded")
        cls.targets = []

    @classmethod
    def tearDownClass(cls):
        wine_run.stop_exe(cls.app)
        for folder in cls.targets:
            shutil.rmtree(folder, ignore_errors=True)
        cls.tmp.cleanup()
        if os.path.exists(cls.native):
            os.remove(cls.native)

    # Helpers --------------------------------------------------------------------------

    def command(self, row, item):
        """Selects the row with a click and chooses the command."""
        x, y = self.g.row_point(row)
        self.g.click(x, y, 1)
        self.g.wait_for(lambda: self.g.selected() == row, 10, "row %d selected" % row)
        self.g.probe("command", str(item))
        time.sleep(0.5)

    def box(self, timeout=20.0):
        """The text and buttons of the program's message box, once it is up."""
        found = self.g.wait_for(lambda: self.g.probe("box")[0].strip(), timeout, "a message box")
        text, buttons = found.split("\t")
        return text, [b for b in buttons.split(",") if b]

    def answer(self, button="OK"):
        """Presses the box's button, and waits until the box has gone (or given way to the
        next box)."""
        before = self.g.probe("box")[0].strip()
        self.assertTrue(before, "no box to answer")
        self.assertEqual(self.g.probe("press", button)[1], 0, "no button " + button)
        self.g.wait_for(lambda: self.g.probe("box")[0].strip() != before, 20, "the box to go")
        time.sleep(0.3)

    def no_box(self, wait=2.0):
        time.sleep(wait)
        self.assertEqual(self.g.probe("box")[0].strip(), "")

    def pick_folder(self, name):
        """Answers the folder picker: the desktop's sub-folder `name`, by type-ahead in the tree."""
        ids = wine_run.find_windows("Browse for Folder", timeout=30)
        self.assertTrue(ids, "no folder picker")
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", ids[0]],
                                  stdout=subprocess.PIPE, text=True).stdout
        pos = dict(line.split("=") for line in geometry.split())
        x, y = int(pos["X"]), int(pos["Y"])
        self.g.click(x + 72, y + 95)  # the tree's root, "Desktop": the tree takes the keys
        self.g.xdo("type", "--delay", "60", name)
        time.sleep(0.5)
        self.g.screenshot("folder-picker")
        self.g.xdo("key", "Return")
        self.g.wait_window_gone("Browse for Folder", 20)

    def new_target(self, name):
        folder = os.path.join(wine_run.desktop_folder(), name)
        os.makedirs(folder, exist_ok=True)
        self.targets.append(folder)
        return folder

    # Tests ----------------------------------------------------------------------------

    def test_1_copy_all_copies_existing_files_once_and_never_overwrites(self):
        target = self.new_target("TolvessaCopyAll%d" % os.getpid())
        self.command(0, COPY_ALL)
        self.pick_folder(os.path.basename(target))
        self.g.wait_for(lambda: len(os.listdir(target)) == 5, 30, "the copies")
        time.sleep(1.0)
        self.assertEqual(sorted(os.listdir(target)), ["a.sys", "b.sys", "reboot.sys",
                                                      os.path.basename(self.native), "victim.sys"])
        # The first "a.sys" in list order wins; the second is not copied over it.
        with open(os.path.join(target, "a.sys")) as f:
            self.assertEqual(f.read(), "alpha")
        self.no_box()
        # A second run leaves the copies alone and says nothing.
        with open(os.path.join(target, "b.sys"), "w") as f:
            f.write("changed since")
        self.command(2, COPY_ALL)
        self.pick_folder(os.path.basename(target))
        self.no_box(3.0)
        with open(os.path.join(target, "b.sys")) as f:
            self.assertEqual(f.read(), "changed since")

    def test_2_copy_selected(self):
        target = self.new_target("TolvessaCopyOne%d" % os.getpid())
        self.command(1, COPY_SELECTED)
        self.pick_folder(os.path.basename(target))
        self.g.wait_for(lambda: os.listdir(target), 30, "the copy")
        self.assertEqual(os.listdir(target), ["b.sys"])
        with open(os.path.join(target, "b.sys")) as f:
            self.assertEqual(f.read(), "bravo")

    def test_3_delete_file_clears_read_only_and_hidden(self):
        victim = self.files["victim.sys"]
        os.chmod(victim, 0o444)
        try:
            os.setxattr(victim, "user.DOSATTRIB", b"0x2")
        except OSError:
            pass  # a file system without user attributes: read-only alone
        before = self.g.rows()[3]
        self.command(3, DELETE)
        self.assertEqual(self.box(), ("Are you sure you want to delete the file ?", ["&Yes", "&No"]))
        self.g.screenshot("delete-question")
        self.answer("&Yes")
        self.assertEqual(self.box(), ("File has been deleted successfully.", ["OK"]))
        self.answer()
        self.assertFalse(os.path.exists(victim))
        # The row keeps its cells until the next refresh.
        self.assertEqual(self.g.rows()[3], before)
        self.assertEqual(before[9], "True")
        self.command(3, DELETE)
        self.answer("&Yes")
        self.assertEqual(self.box(), ("Cannot find the file on disk.", ["OK"]))
        self.answer()

    def test_4_delete_on_reboot_makes_the_pending_rename_entry(self):
        self.command(4, DELETE_ON_REBOOT)
        self.assertEqual(self.box()[0], "Are you sure you want to delete the file ?")
        self.answer("&Yes")
        self.assertEqual(self.box(), ("File will be deleted on the next reboot.", ["OK"]))
        self.answer()
        self.assertTrue(os.path.exists(self.files["reboot.sys"]))
        out = subprocess.run([wine_run.WINE, "reg", "query",
                              "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                              "/v", "PendingFileRenameOperations"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        self.assertIn(self.paths[4].lower(), out.decode("utf-8", "replace").lower())

    def test_5_answering_no_ends_the_command(self):
        self.command(0, DELETE)
        self.assertEqual(self.box()[0], "Are you sure you want to delete the file ?")
        self.answer("&No")
        self.no_box()
        self.assertTrue(os.path.exists(self.files["src/a.sys"]))

    def test_6_open_folder_of_a_bare_name(self):
        self.command(5, OPEN_FOLDER)
        self.assertEqual(self.box(), ("Cannot find the folder on disk.", ["OK"]))
        self.g.screenshot("folder-not-found")
        self.answer()

    def test_7_shell_launches(self):
        if os.path.exists(self.shell_log):
            os.remove(self.shell_log)
        self.command(0, SHOW_PROPERTIES)
        self.command(0, OPEN_FOLDER)
        self.command(1, SEARCH_FILE_NAME)
        time.sleep(1.0)
        with open(self.shell_log, encoding="utf-8") as f:
            lines = [line.rstrip("\n").split("\t") for line in f]
        folder = self.paths[0][:self.paths[0].rfind("\\") + 1]
        encoded = "".join(c if c.isalnum() or c in "-._~" else "%%%02X" % ord(c)
                          for c in self.paths[1])
        self.assertEqual(lines, [
            ["properties", self.paths[0], "", "1"],
            ["open", folder, "", "5"],
            ["open", "iexplore.exe", '"https://www.google.com/search?q=' + encoded + '"', "5"],
        ])


    def test_8_the_shell_reaches_the_real_system32_by_sysnative(self):
        if wine_run.is_64bit(ARGS.exe):
            self.skipTest("a 64-bit program sees the real System32 as its shell does")
        if os.path.exists(self.shell_log):
            os.remove(self.shell_log)
        row = self.g.rows()[6]
        name = os.path.basename(self.native)
        self.assertEqual(row[1].lower(), "c:\\windows\\system32\\drivers\\" + name)
        self.assertEqual(row[9], "True")
        self.command(6, SHOW_PROPERTIES)
        self.command(6, OPEN_FOLDER)
        time.sleep(1.0)
        self.no_box(0.5)
        with open(self.shell_log, encoding="utf-8") as f:
            lines = [line.rstrip("\n").split("\t") for line in f]
        self.assertEqual([[cell.lower() for cell in line] for line in lines], [
            ["properties", "c:\\windows\\sysnative\\drivers\\" + name, "", "1"],
            ["open", "c:\\windows\\sysnative\\drivers\\", "", "5"],
        ])


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--probe", "--shots")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
