#!/usr/bin/env python3
"""tolvessa_scan, the host scanner: recordings in both layouts of the kernel's module table,
replayed over a folder standing in for drive C:.

    scan_tool_test.py --scan tolvessa_scan
"""
import argparse
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest

ARGS = None
PATHS = ["\\SystemRoot\\system32\\ntoskrnl.exe", "\\SystemRoot\\system32\\drivers\\gone.sys",
         "\\??\\C:\\Tools\\acme.sys"]
# (header bytes, entry bytes, offset of the image base in an entry, its size, path offset)
LAYOUTS = {"32": (4, 284, 8, 4, 28), "64": (8, 296, 16, 8, 40)}


def rows_of(output):
    """The printed rows as lists of (label, value), and the closing count line."""
    blocks = output.rstrip("\n").split("\n\n")
    rows = [[(line[:13].rstrip(), line[14:]) for line in block.split("\n")]
            for block in blocks[:-1]]
    return rows, blocks[-1]


class ScanToolTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-scan-")
        self.dir = self.tmp.name
        self.drive_c = os.path.join(self.dir, "c")
        os.makedirs(os.path.join(self.drive_c, "windows", "system32"))
        os.makedirs(os.path.join(self.drive_c, "Tools"))
        self.kernel = b"MZ not really a kernel"
        with open(os.path.join(self.drive_c, "windows", "system32", "ntoskrnl.exe"), "wb") as f:
            f.write(self.kernel)
        with open(os.path.join(self.drive_c, "Tools", "acme.sys"), "wb") as f:
            f.write(b"")

    def tearDown(self):
        self.tmp.cleanup()

    def scan(self, *args, check=True):
        proc = subprocess.run([ARGS.scan] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
        if check:
            self.assertEqual(proc.returncode, 0, proc.stderr)
        return proc

    def test_records_each_layout_as_the_kernel_lays_it_out(self):
        for bits, (header, entry, base_at, base_size, path_at) in LAYOUTS.items():
            table = os.path.join(self.dir, "t%s.bin" % bits)
            self.scan("--layout", bits, "--record", table, *PATHS)
            with open(table, "rb") as f:
                data = f.read()
            self.assertEqual(len(data), header + 3 * entry, bits)
            self.assertEqual(struct.unpack_from("<I", data, 0)[0], 3)
            for i, path in enumerate(PATHS):
                at = header + i * entry
                fmt = "<Q" if base_size == 8 else "<I"
                self.assertEqual(struct.unpack_from(fmt, data, at + base_at)[0],
                                 0x10000000 + i * 0x200000)
                raw = path.encode("ascii")
                self.assertEqual(data[at + path_at:at + path_at + len(raw) + 1], raw + b"\0")

    def test_replays_either_layout_with_all_the_digits_of_its_bases(self):
        outputs = {}
        for bits in LAYOUTS:
            table = os.path.join(self.dir, "t%s.bin" % bits)
            self.scan("--layout", bits, "--record", table, *PATHS)
            outputs[bits] = rows_of(self.scan("--layout", bits, "--drive-c", self.drive_c,
                                              table).stdout)
        rows32, count32 = outputs["32"]
        rows64, count64 = outputs["64"]
        self.assertEqual(count32, "3 Modules Loaded")
        self.assertEqual(count64, "3 Modules Loaded")
        self.assertEqual([dict(r)["Base Address"] for r in rows32],
                         ["0x10000000", "0x10200000", "0x10400000"])
        self.assertEqual([dict(r)["Base Address"] for r in rows64],
                         ["0x0000000010000000", "0x0000000010200000", "0x0000000010400000"])
        # Every other cell is the same in both layouts.
        strip = [[cell for cell in row if cell[0] != "Base Address"] for row in rows32]
        self.assertEqual(strip, [[cell for cell in row if cell[0] != "Base Address"]
                                 for row in rows64])
        kernel = dict(rows64[0])
        self.assertEqual(kernel["Image Name"], "C:\\windows\\system32\\ntoskrnl.exe")
        self.assertEqual(kernel["MD5 Hash"], hashlib.md5(self.kernel).hexdigest().upper())
        # The digests after the ten cells: the file is no PE image, so only the file hashes.
        self.assertEqual([label for label, _ in rows64[0]][10:],
                         ["SHA-1", "SHA-256", "PE SHA-1", "PE SHA-256", "Imphash"])
        self.assertEqual(kernel["SHA-1"], hashlib.sha1(self.kernel).hexdigest().upper())
        self.assertEqual(kernel["SHA-256"], hashlib.sha256(self.kernel).hexdigest().upper())
        self.assertEqual((kernel["PE SHA-1"], kernel["PE SHA-256"], kernel["Imphash"]), ("", "", ""))
        self.assertEqual(dict(rows64[1])["SHA-256"], "")  # no file, no digest
        self.assertEqual(dict(rows64[2])["SHA-256"], hashlib.sha256(b"").hexdigest().upper())
        self.assertEqual(dict(rows64[1])["Exists"], "False")
        self.assertEqual(dict(rows64[2])["Image Name"], "C:\\Tools\\acme.sys")

    def test_a_table_read_in_the_other_layout_is_not_the_same_table(self):
        table = os.path.join(self.dir, "t64.bin")
        self.scan("--layout", "64", "--record", table, *PATHS)
        rows, _ = rows_of(self.scan("--drive-c", self.drive_c, table).stdout)
        self.assertNotEqual([dict(r)["Image Name"] for r in rows][:1],
                            ["C:\\windows\\system32\\ntoskrnl.exe"])

    def test_unknown_layout_is_a_usage_error(self):
        for bad in ("48", "", "x64"):
            proc = self.scan("--layout", bad, "--record", os.path.join(self.dir, "t.bin"),
                             *PATHS, check=False)
            self.assertEqual(proc.returncode, 2, bad)
            self.assertIn("usage:", proc.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.dir, "t.bin")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--scan", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
