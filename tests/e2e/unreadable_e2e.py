#!/usr/bin/env python3
"""A driver file the program cannot read for the signature check, end to end under Wine: the test
build (TolvessaTestable.exe) lists test images through a recorded module table while another
program (tolvessa_hold_file.exe) holds some of them open.

- Held open with no sharing: nothing can read it; "Signature" is "Unreadable", the digests empty.
- Held open for writing (others may read and write): the digests step reads it (its OpenFile
  retry), the verifier does not; no catalog lists it, so "Unreadable", with its digests.
- The same image not held: "Embedded", as ever.
The unattended CSV and JSON exports carry the verdicts.

    unreadable_e2e.py --exe TolvessaTestable.exe --hold tolvessa_hold_file.exe --images DIR
"""
import argparse
import csv
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402

ARGS = None


class Holder:
    """tolvessa_hold_file.exe holding one file until it is let go."""

    def __init__(self, mode, path):
        self.proc = subprocess.Popen([wine_run.WINE, ARGS.hold, mode, wine_run.windows_path(path)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.said = self.proc.stdout.readline().decode("ascii", "replace").strip()

    def release(self):
        if self.proc.stdin:
            self.proc.stdin.close()
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=30)


class UnreadableTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-unreadable-")
        self.dir = self.tmp.name
        self.files = {}
        for name, image in (("exclusive.sys", "signed_64.exe"), ("writing.sys", "unsigned_64.exe"),
                            ("free.sys", "signed_64.exe")):
            path = os.path.join(self.dir, name)
            shutil.copy(os.path.join(ARGS.images, image), path)
            self.files[name] = path
        table = os.path.join(self.dir, "modules.bin")
        with open(table, "wb") as f:
            f.write(wine_run.module_table(
                ["\\??\\" + wine_run.windows_path(p) for p in self.files.values()], ARGS.exe))
        self.env = dict(os.environ, TOLVESSA_MODULE_TABLE=wine_run.windows_path(table))
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            holder.release()
        self.tmp.cleanup()

    def hold(self, mode, name):
        holder = Holder(mode, self.files[name])
        self.holders.append(holder)
        self.assertEqual(holder.said, "held", "%s could not be held" % name)

    def test_files_held_open_by_another_program_are_unreadable(self):
        self.hold("exclusive", "exclusive.sys")
        self.hold("writing", "writing.sys")
        out_csv = os.path.join(self.dir, "out.csv")
        out_json = os.path.join(self.dir, "out.json")
        proc = subprocess.run([wine_run.WINE, ARGS.exe, "-csv", wine_run.windows_path(out_csv),
                               "-json", wine_run.windows_path(out_json)],
                              cwd=self.dir, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        self.assertEqual(proc.returncode, 0)
        with open(out_csv, encoding="utf-8", newline="") as f:
            rows = list(csv.DictReader(f))
        with open(out_json, encoding="utf-8") as f:
            modules = json.load(f)["modules"]
        self.assertEqual(len(rows), 3)
        by_name = {os.path.basename(r["Image Name"].replace("\\", "/")): r for r in rows}
        with open(self.files["writing.sys"], "rb") as f:
            writing_sha256 = hashlib.sha256(f.read()).hexdigest().upper()
        expected = {
            "exclusive.sys": ("Unreadable", "", ""),
            "writing.sys": ("Unreadable", "", writing_sha256),
            "free.sys": ("Embedded", "Tolvessa Test Signer", None),
        }
        for name, (verdict, signer, sha256) in expected.items():
            with self.subTest(file=name):
                row = by_name[name]
                self.assertEqual(row["Exists"], "True")
                self.assertEqual(row["Signature"], verdict)
                self.assertEqual(row["Signer"], signer)
                self.assertEqual(row["Catalog"], "")
                if sha256 is not None:
                    self.assertEqual(row["SHA-256"], sha256)
                else:
                    self.assertEqual(len(row["SHA-256"]), 64)
        self.assertEqual(sorted(m["signature"] for m in modules),
                         ["Embedded", "Unreadable", "Unreadable"])

        # Let go, the same files are judged as ever.
        for holder in self.holders:
            holder.release()
        self.holders = []
        proc = subprocess.run([wine_run.WINE, ARGS.exe, "-csv", wine_run.windows_path(out_csv)],
                              cwd=self.dir, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        self.assertEqual(proc.returncode, 0)
        with open(out_csv, encoding="utf-8", newline="") as f:
            verdicts = sorted(r["Signature"] for r in csv.DictReader(f))
        self.assertEqual(verdicts, ["Embedded", "Embedded", "Unsigned"])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--hold", required=True)
    parser.add_argument("--images", required=True)
    ARGS, rest = parser.parse_known_args()
    if not wine_run.WINEPREFIX:
        sys.exit("WINEPREFIX is not set")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
