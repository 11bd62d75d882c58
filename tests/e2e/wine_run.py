"""Running Tolvessa.exe under Wine for end-to-end tests: paths, processes, report files."""
import os
import struct
import subprocess
import time

WINEPREFIX = os.environ.get("WINEPREFIX", "")
# The Wine command (tools/wine-env.sh names Wine's 64-bit loader on a machine that runs no
# 32-bit code).
WINE = os.environ.get("TOLVESSA_WINE", "wine")
# The three modules Wine's kernel reports.
WINE_KERNEL_MODULES = ["\\SystemRoot\\system32\\ntoskrnl.exe", "\\SystemRoot\\system32\\hal.dll",
                       "\\SystemRoot\\system32\\drivers\\mountmgr.sys"]


def is_64bit(exe):
    """Whether the Windows program is an x86-64 image (its PE header's machine field)."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    at = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, at + 4)[0] == 0x8664


def windows_path(path):
    """A host path as Wine sees it on its Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_exe(exe, args, cwd, timeout=120):
    """Runs the program to its end; returns the exit code. Fails the test on a hang."""
    proc = subprocess.run([WINE, exe] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    return proc.returncode


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


TITLE = "Corvane Tolvessa"


def find_windows(name, timeout=30.0):
    """Ids of the visible X windows whose name matches, waiting up to `timeout` seconds."""
    end = time.time() + timeout
    while time.time() < end:
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        ids = [line for line in out.split() if line]
        if ids:
            return ids
        time.sleep(0.2)
    return []


class Interactive:
    """The program started interactively; its main window is looked up by caption, and the
    program is ended when the block is left."""

    def __init__(self, exe, args, cwd):
        self.proc = subprocess.Popen([WINE, exe] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = None

    def __enter__(self):
        ids = find_windows(TITLE + " v")
        self.window = ids[0] if ids else None
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=30)
        return False
