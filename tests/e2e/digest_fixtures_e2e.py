#!/usr/bin/env python3
"""The digest columns over the digest fixture images, end to end under Wine and Xvfb: the test
build (TolvessaTestable.exe) lists the images of tests/fixtures/digests through a recorded
module table, "Show Hashes and Signatures" is ticked, and every digest cell must come to equal
what other tools computed for the file (expected.json: hashlib, osslsigncode, pefile), damaged
images included (their image-hash cells stay empty).

    digest_fixtures_e2e.py --exe TolvessaTestable.exe --probe tolvessa_probe.exe --shots DIR
                           --fixtures DIR
"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

ARGS = None
SHOW_HASHES = 1008
FIELDS = ["sha1", "sha256", "peSha1", "peSha256", "imphash"]


class DigestFixturesTest(unittest.TestCase):
    def test_every_fixture_gets_the_values_of_other_tools(self):
        expected = wine_run.read_json(os.path.join(ARGS.fixtures, "expected.json"))
        names = sorted(expected)
        g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        with tempfile.TemporaryDirectory(prefix="tolvessa-fixtures-") as tmp:
            env = wine_run.write_module_table(
                os.path.join(tmp, "modules.bin"),
                wine_run.device_paths(os.path.join(ARGS.fixtures, n) for n in names), ARGS.exe)
            app = wine_run.start_exe(ARGS.exe, cwd=tmp, env=env)
            try:
                wine_run.main_window()
                g.wait_status("   %d Modules Loaded" % len(names))
                g.probe("command", str(SHOW_HASHES))
                g.wait_status("   %d Modules Loaded" % len(names))
                rows = g.rows_when(lambda rows: all(len(r) == 18 and r[11] and r[15]
                                                    for r in rows))
                g.screenshot("digest-fixtures")
                self.assertEqual(len(rows), len(names))
                for name, row in zip(names, rows):
                    self.assertTrue(row[1].endswith(name), (name, row[1]))
                    self.assertEqual(row[9], "True", name)
                    self.assertEqual(row[10:15], [expected[name][k] for k in FIELDS], name)
            finally:
                wine_run.stop_exe(app)


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--probe", "--shots", "--fixtures")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
