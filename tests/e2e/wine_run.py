"""Running Tolvessa.exe under Wine for end-to-end tests: the command line of a test, paths,
fixtures (module tables, a folder a test), processes, windows and what the program writes."""
import argparse
import csv
import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

WINEPREFIX = os.environ.get("WINEPREFIX", "")
# The Wine command (tools/wine-env.sh names Wine's 64-bit loader on a machine that runs no
# 32-bit code).
WINE = os.environ.get("TOLVESSA_WINE", "wine")
# The three modules Wine's kernel reports.
WINE_KERNEL_MODULES = ["\\SystemRoot\\system32\\ntoskrnl.exe", "\\SystemRoot\\system32\\hal.dll",
                       "\\SystemRoot\\system32\\drivers\\mountmgr.sys"]
# Their image bases, as Wine's kernel gives them.
WINE_KERNEL_BASES = (0x10000000, 0x10200000, 0x10400000)
# The labels of a row's ten cells in a report ("-log", "Export").
REPORT_LABELS = ["Load Order: ", "Image Name: ", "Base Address: ", "Image Size: ", "Publisher: ",
                 "Description: ", "Version: ", "MD5 Hash: ", "Hidden: ", "Exists: "]


def is_64bit(exe):
    """Whether the Windows program is an x86-64 image (its PE header's machine field)."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    at = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, at + 4)[0] == 0x8664


def windows_path(path):
    """A host path as Wine sees it on its Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def test_options(*required, optional=()):
    """The options of a test's command line: each of `required` must be given, an `optional` one
    is "" when not. Stops the test when no Wine prefix is set, and makes the screenshot folder of
    a test that takes --shots. Returns the options and the rest of the line, for run_tests."""
    parser = argparse.ArgumentParser()
    for name in required:
        parser.add_argument(name, required=True)
    for name in optional:
        parser.add_argument(name, default="")
    args, rest = parser.parse_known_args()
    if not WINEPREFIX:
        sys.exit("WINEPREFIX is not set")
    if getattr(args, "shots", None):
        os.makedirs(args.shots, exist_ok=True)
    return args, rest


def run_tests(rest):
    """Runs the test module's cases, `rest` being the command line that test_options left."""
    unittest.main(module="__main__", argv=[sys.argv[0]] + list(rest), verbosity=2)


class FolderTest(unittest.TestCase):
    """A test case with a fresh folder of its own for each test, `self.dir`, removed after it."""

    FOLDER_PREFIX = "tolvessa-e2e-"

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix=self.FOLDER_PREFIX)
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name


def run_exe(exe, args, cwd, env=None, timeout=120):
    """Runs a Windows program to its end; returns the exit code. Fails the test on a hang."""
    proc = subprocess.run([WINE, exe] + list(args), cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    return proc.returncode


def start_exe(exe, args=(), cwd=None, env=None):
    """Starts a Windows program without waiting for it; its output goes nowhere."""
    return subprocess.Popen([WINE, exe] + list(args), cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_exe(proc):
    """Ends a program that start_exe started, when it still runs, and waits for its end."""
    if proc.poll() is None:
        proc.kill()
    proc.wait(timeout=30)


def base_address(exe, base):
    """The "Base Address" cell the program shows for an image base: a 64-bit program shows all
    16 digits of its table's addresses, a 32-bit one 8."""
    return "0x%0*X" % (16 if is_64bit(exe) else 8, base)


def table_bases(count, exe):
    """The image bases module_table() gives its entries: above 4 GiB, as a kernel's are, in a
    64-bit program's table."""
    first = 0xFFFFF80200000000 if is_64bit(exe) else 0x80000000
    return [first + i * 0x10000 for i in range(count)]


def module_table(paths, exe):
    """The kernel's module table for these paths, in this order, in the layout the program gets
    (a 32-bit process's or a 64-bit one's); the bases are table_bases()."""
    if is_64bit(exe):
        data, entry_size, base_at, base_format, order_at, path_at = (
            struct.pack("<II", len(paths), 0), 296, 16, "<QII", 32, 40)
    else:
        data, entry_size, base_at, base_format, order_at, path_at = (
            struct.pack("<I", len(paths)), 284, 8, "<III", 20, 28)
    bases = table_bases(len(paths), exe)
    for i, path in enumerate(paths):
        entry = bytearray(entry_size)
        struct.pack_into(base_format, entry, base_at, bases[i], 0x1000, 0)
        struct.pack_into("<H", entry, order_at, i)
        raw = path.encode("cp1252")[:256]
        entry[path_at:path_at + len(raw)] = raw
        data += bytes(entry)
    return data


def device_paths(files):
    """Host files as the kernel's module table names them: "\\??\\Z:\\..."."""
    return ["\\??\\" + windows_path(path) for path in files]


def write_module_table(path, paths, exe):
    """Writes a recorded module table of these kernel paths for `exe` (module_table()), and
    returns the environment that has the test build list it (TOLVESSA_MODULE_TABLE)."""
    with open(path, "wb") as f:
        f.write(module_table(paths, exe))
    return dict(os.environ, TOLVESSA_MODULE_TABLE=windows_path(path))


def sha256_of(path):
    """The SHA-256 of a file, in lower-case hex."""
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def prefix_file(path):
    """The host file behind a path on the prefix's drive C: ("C:\\windows\\...")."""
    return os.path.join(WINEPREFIX, "drive_c", *path[3:].split("\\"))


def desktop_folder():
    """The host folder behind the prefix's desktop, which the shell's dialogs start in."""
    users = os.path.join(WINEPREFIX, "drive_c", "users")
    for user in sorted(os.listdir(users)):
        desktop = os.path.join(users, user, "Desktop")
        if user != "Public" and os.path.isdir(desktop):
            return os.path.realpath(desktop)
    raise AssertionError("no desktop folder in the prefix")


def read_report(path):
    """The report's lines: checks the file form (CR LF after every line, an optional UTF-8
    byte-order mark, never UTF-16) and returns the text lines without their line ends."""
    with open(path, "rb") as f:
        data = f.read()
    assert not data.startswith(b"\xff\xfe") and not data.startswith(b"\xfe\xff"), "UTF-16 report"
    if data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8")
    else:
        text = data.decode("cp1252")
    assert text.endswith("\r\n"), "the last line must end with CR LF"
    body = text[:-2]
    assert "\n" not in body.replace("\r\n", ""), "a bare LF in the report"
    assert "\r" not in body.replace("\r\n", ""), "a bare CR in the report"
    return body.split("\r\n")


def read_csv_rows(path):
    """The rows of a CSV export (UTF-8), each as a dict by the header's captions."""
    with open(path, encoding="utf-8", newline="") as f:
        return list(csv.DictReader(f))


def read_csv_cells(path):
    """The rows of a CSV export (UTF-8) after its header, each as a list of cells."""
    with open(path, encoding="utf-8", newline="") as f:
        return list(csv.reader(f))[1:]


def read_json(path):
    """A JSON document (UTF-8), such as the JSON export."""
    with open(path, encoding="utf-8") as f:
        return json.load(f)


TITLE = "Corvane Tolvessa"


def visible_windows(name):
    """Ids of the visible X windows whose name matches the pattern, now."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    return [line for line in out.split() if line]


def find_windows(name, timeout=30.0):
    """Ids of the visible X windows whose name matches, waiting up to `timeout` seconds."""
    end = time.time() + timeout
    while time.time() < end:
        ids = visible_windows(name)
        if ids:
            return ids
        time.sleep(0.2)
    return []


def main_window(timeout=60.0):
    """The X window of the program's main window, once it is up; fails the test if it does not
    come up."""
    ids = find_windows(TITLE + " v", timeout=timeout)
    if not ids:
        raise AssertionError("the main window did not come up")
    return ids[0]


def message_boxes():
    """The program's message boxes on the screen now (their caption is the title alone)."""
    return visible_windows("^" + TITLE + "$")


def press_return(windows):
    """Presses Return in each of these X windows, such as message boxes."""
    for window in windows:
        subprocess.run(["xdotool", "key", "--window", window, "Return"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Interactive:
    """The program started interactively; its main window is looked up by caption, and the
    program is ended when the block is left."""

    def __init__(self, exe, args, cwd):
        self.proc = start_exe(exe, args, cwd=cwd)
        self.window = None

    def __enter__(self):
        ids = find_windows(TITLE + " v")
        self.window = ids[0] if ids else None
        return self

    def __exit__(self, *exc):
        stop_exe(self.proc)
        return False
