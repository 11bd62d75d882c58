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
import os
import shutil
import subprocess
import sys

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


class UnreadableTest(wine_run.FolderTest):
    FOLDER_PREFIX = "tolvessa-unreadable-"

    def setUp(self):
        super().setUp()
        self.files = {}
        for name, image in (("exclusive.sys", "signed_64.exe"), ("writing.sys", "unsigned_64.exe"),
                            ("free.sys", "signed_64.exe")):
            path = os.path.join(self.dir, name)
            shutil.copy(os.path.join(ARGS.images, image), path)
            self.files[name] = path
        self.env = wine_run.write_module_table(os.path.join(self.dir, "modules.bin"),
                                               wine_run.device_paths(self.files.values()),
                                               ARGS.exe)
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            holder.release()

    def hold(self, mode, name):
        holder = Holder(mode, self.files[name])
        self.holders.append(holder)
        self.assertEqual(holder.said, "held", "%s could not be held" % name)

    def test_files_held_open_by_another_program_are_unreadable(self):
        self.hold("exclusive", "exclusive.sys")
        self.hold("writing", "writing.sys")
        out_csv = os.path.join(self.dir, "out.csv")
        out_json = os.path.join(self.dir, "out.json")
        code = wine_run.run_exe(ARGS.exe, ["-csv", wine_run.windows_path(out_csv),
                                           "-json", wine_run.windows_path(out_json)],
                                cwd=self.dir, env=self.env, timeout=180)
        self.assertEqual(code, 0)
        rows = wine_run.read_csv_rows(out_csv)
        modules = wine_run.read_json(out_json)["modules"]
        self.assertEqual(len(rows), 3)
        by_name = {os.path.basename(r["Image Name"].replace("\\", "/")): r for r in rows}
        writing_sha256 = wine_run.sha256_of(self.files["writing.sys"]).upper()
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
        code = wine_run.run_exe(ARGS.exe, ["-csv", wine_run.windows_path(out_csv)], cwd=self.dir,
                                env=self.env, timeout=180)
        self.assertEqual(code, 0)
        verdicts = sorted(r["Signature"] for r in wine_run.read_csv_rows(out_csv))
        self.assertEqual(verdicts, ["Embedded", "Embedded", "Unsigned"])


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--hold", "--images")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
