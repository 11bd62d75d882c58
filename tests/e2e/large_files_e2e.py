#!/usr/bin/env python3
"""Files longer than 4 GiB, end to end under Wine: the test build (TolvessaTestable.exe) lists a
sparse file of 4 GiB and a few bytes through a recorded module table and writes the CSV export;
its "MD5 Hash", "SHA-1" and "SHA-256" cells must be the digests Python's hashlib gives of the
same bytes (the whole file, not its length modulo 4 GiB). Reading the file takes the program some
tens of seconds, once.

    large_files_e2e.py --exe TolvessaTestable.exe
"""
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402

ARGS = None
ZEROS = (4 << 30) + 4096  # past 4 GiB, so a 32-bit length would read 4096
TAIL = b"the end of a long file\r\n" * 100


class LargeFilesTest(wine_run.FolderTest):
    FOLDER_PREFIX = "tolvessa-large-"

    def test_a_file_over_4_gib_is_digested_whole(self):
        path = os.path.join(self.dir, "large.sys")
        with open(path, "wb") as f:
            f.truncate(ZEROS)  # a hole: no disk space taken
            f.seek(ZEROS)
            f.write(TAIL)
        self.assertGreater(os.path.getsize(path), 1 << 32)
        digests = [hashlib.md5(), hashlib.sha1(), hashlib.sha256()]
        zeros = bytes(1 << 20)
        for _ in range(ZEROS // len(zeros)):
            for d in digests:
                d.update(zeros)
        for d in digests:
            d.update(zeros[:ZEROS % len(zeros)])
            d.update(TAIL)
        md5, sha1, sha256 = (d.hexdigest().upper() for d in digests)

        env = wine_run.write_module_table(os.path.join(self.dir, "modules.bin"),
                                          wine_run.device_paths([path]), ARGS.exe)
        out_csv = os.path.join(self.dir, "out.csv")
        code = wine_run.run_exe(ARGS.exe, ["-csv", wine_run.windows_path(out_csv)], cwd=self.dir,
                                env=env, timeout=600)
        self.assertEqual(code, 0)
        rows = wine_run.read_csv_rows(out_csv)
        self.assertEqual(len(rows), 1)
        row = rows[0]
        self.assertEqual(row["MD5 Hash"], md5)
        self.assertEqual(row["SHA-1"], sha1)
        self.assertEqual(row["SHA-256"], sha256)
        # Not an image: no image hash, no imports.
        self.assertEqual((row["PE SHA-1"], row["PE SHA-256"], row["Imphash"]), ("", "", ""))


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
