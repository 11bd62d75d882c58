#!/usr/bin/env python3
"""The digest columns of the main window under Wine and Xvfb, end to end: "Options > Show Hashes
and Signatures" adds five columns after the ten, the digest workers fill them in for Wine's
modules, with values checked here by other tools (hashlib, pefile, osslsigncode), the copy
items put them on the clipboard, and unticking gives back the ten columns as they were.

    digest_columns_e2e.py --exe Tolvessa64.exe --probe tolvessa_probe.exe --shots DIR
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

try:
    import pefile
except ImportError:  # Debian's package, when another Python runs the test
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

ARGS = None
SHOW_HASHES, SHA256_COPY, PE_SHA256_COPY = 1008, 1117, 1118
CAPTIONS = ["SHA-1", "SHA-256", "PE SHA-1", "PE SHA-256", "Imphash"]


def image_hash(path, digest, work):
    """The Authenticode image hash by osslsigncode: its digest of a signed copy."""
    key, cert = os.path.join(work, "k.pem"), os.path.join(work, "c.pem")
    if not os.path.exists(key):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Digest Check", "-keyout", key, "-out", cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    signed = os.path.join(work, "signed.bin")
    if os.path.exists(signed):
        os.remove(signed)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", digest, "-in", path,
                    "-out", signed], check=True, stdout=subprocess.DEVNULL)
    out = subprocess.run(["osslsigncode", "verify", "-in", signed], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT).stdout.decode(errors="replace")
    return re.search(r"Calculated message digest\s*:\s*([0-9A-Fa-f]+)", out).group(1).upper()


class DigestColumnsTest(unittest.TestCase):
    """One run of the program for the whole class; the tests run in the order of their names."""

    @classmethod
    def setUpClass(cls):
        cls.g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        cls.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-digests-")
        cls.app = wine_run.start_exe(ARGS.exe, cwd=cls.tmp.name)
        cls.window = wine_run.main_window()
        cls.g.wait_status("   3 Modules Loaded")
        cls.columns_before = cls.g.columns()

    @classmethod
    def tearDownClass(cls):
        wine_run.stop_exe(cls.app)
        cls.tmp.cleanup()

    def filled_rows(self, timeout=60):
        """The rows once every digest cell of an existing file is filled in."""
        def filled(rows):
            return rows and all(len(r) == 18 and r[10] and r[11] and r[15] for r in rows
                                if r[9] == "True")

        rows = self.g.rows_when(filled, timeout)
        if not filled(rows):
            self.fail("the digest cells were not filled in: %r" % rows)
        return rows

    def test_1_the_ten_columns_at_start(self):
        self.assertEqual(len(self.columns_before), 10)
        self.assertTrue(all(len(r) == 10 for r in self.g.rows()))

    def test_2_the_option_adds_five_columns_that_fill_in(self):
        self.g.menu(self.window, 1, 3)  # Options > Show Hashes and Signatures
        self.g.wait_status("   3 Modules Loaded")
        widths = self.g.columns()
        # Five digests, then "Signature", "Signer" and "Catalog".
        self.assertEqual(len(widths), 18)
        self.assertEqual(widths[:10], self.columns_before[:10])
        # Each digest column shows a whole SHA-256: 64 digits of at least 6 pixels.
        self.assertTrue(all(w >= 64 * 6 for w in widths[10:15]), widths)
        rows = self.filled_rows()
        self.g.screenshot("digest-columns")
        for row in rows:
            data = open(wine_run.prefix_file(row[1]), "rb").read()
            self.assertEqual(row[10], hashlib.sha1(data).hexdigest().upper(), row[1])
            self.assertEqual(row[11], hashlib.sha256(data).hexdigest().upper(), row[1])
            self.assertEqual(row[14], pefile.PE(data=data).get_imphash().upper(), row[1])
        with tempfile.TemporaryDirectory() as work:
            hal = rows[1]
            self.assertTrue(hal[1].endswith("hal.dll"))
            self.assertEqual(hal[12], image_hash(wine_run.prefix_file(hal[1]), "sha1", work))
            self.assertEqual(hal[13], image_hash(wine_run.prefix_file(hal[1]), "sha256", work))

    def test_3_copy_items_put_the_digests_on_the_clipboard(self):
        rows = self.filled_rows()
        self.g.set_clipboard("before")
        self.g.click(*self.g.row_point(2), 3)
        time.sleep(0.5)
        # Copy to Clipboard: Entire Line, File Name, Address, Publisher, Description, MD5 Hash,
        # then SHA-256 and PE SHA-256.
        self.g.keys(self.window, "Down", "Down", "Down", "Right", *(["Down"] * 6), "Return")
        time.sleep(0.8)
        self.assertEqual(self.g.clipboard(), rows[2][11])
        self.g.probe("command", str(PE_SHA256_COPY))
        time.sleep(0.8)
        self.assertEqual(self.g.clipboard(), rows[2][13])

    def test_4_refreshes_in_a_row_end_with_the_right_values(self):
        before = self.filled_rows()
        for _ in range(3):
            self.g.probe("command", "101")  # Refresh, again before the digests are in
            time.sleep(0.2)
        self.g.wait_status("   3 Modules Loaded")
        time.sleep(1.0)
        self.assertEqual(self.filled_rows(), before)

    def test_5_unticking_gives_back_the_ten_columns(self):
        self.g.probe("command", str(SHOW_HASHES))
        self.g.wait_status("   3 Modules Loaded")
        time.sleep(0.5)
        self.assertEqual(self.g.columns(), self.columns_before)
        self.assertTrue(all(len(r) == 10 for r in self.g.rows()))


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--probe", "--shots")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
