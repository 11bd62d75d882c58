#!/usr/bin/env python3
"""The digest columns over the digest fixture images, end to end under Wine and Xvfb: the test
build (TolvessaTestable.exe) lists the images of tests/fixtures/digests through a recorded
module table, "Show Hashes and Signatures" is ticked, and every digest cell must come to equal
what other tools computed for the file (expected.json: hashlib, osslsigncode, pefile), damaged
images included (their image-hash cells stay empty).

    digest_fixtures_e2e.py --exe TolvessaTestable.exe --probe tolvessa_probe.exe --shots DIR
                           --fixtures DIR
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

ARGS = None
SHOW_HASHES = 1008
FIELDS = ["sha1", "sha256", "peSha1", "peSha256", "imphash"]


class DigestFixturesTest(unittest.TestCase):
    def test_every_fixture_gets_the_values_of_other_tools(self):
        with open(os.path.join(ARGS.fixtures, "expected.json")) as f:
            expected = json.load(f)
        names = sorted(expected)
        g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        with tempfile.TemporaryDirectory(prefix="tolvessa-fixtures-") as tmp:
            table = os.path.join(tmp, "modules.bin")
            paths = ["\\??\\" + wine_run.windows_path(os.path.join(ARGS.fixtures, n))
                     for n in names]
            with open(table, "wb") as f:
                f.write(wine_run.module_table(paths, ARGS.exe))
            env = dict(os.environ, TOLVESSA_MODULE_TABLE=wine_run.windows_path(table))
            app = subprocess.Popen([wine_run.WINE, ARGS.exe], cwd=tmp, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(wine_run.find_windows("Corvane Tolvessa v", timeout=60))
                g.wait_status("   %d Modules Loaded" % len(names))
                g.probe("command", str(SHOW_HASHES))
                g.wait_status("   %d Modules Loaded" % len(names))
                end = time.time() + 60
                while True:
                    rows = g.rows()
                    if all(len(r) == 18 and r[11] and r[15] for r in rows) or time.time() > end:
                        break
                    time.sleep(0.3)
                g.screenshot("digest-fixtures")
                self.assertEqual(len(rows), len(names))
                for name, row in zip(names, rows):
                    self.assertTrue(row[1].endswith(name), (name, row[1]))
                    self.assertEqual(row[9], "True", name)
                    self.assertEqual(row[10:15], [expected[name][k] for k in FIELDS], name)
            finally:
                if app.poll() is None:
                    app.kill()
                app.wait(timeout=30)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--fixtures", required=True)
    ARGS, rest = parser.parse_known_args()
    if not wine_run.WINEPREFIX:
        sys.exit("WINEPREFIX is not set")
    os.makedirs(ARGS.shots, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
