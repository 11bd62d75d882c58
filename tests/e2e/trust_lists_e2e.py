#!/usr/bin/env python3
"""Signature verdicts, vulnerable-driver lists and the CSV and JSON exports, end to end under Wine:
the test build (TolvessaTestable.exe) lists signed test images through a recorded module table.

- In the window, "Show Hashes and Signatures" fills "Signature", "Signer" and "Catalog" for each
  row from WinVerifyTrust (what Wine can show: an intact signature, a changed byte, none).
- Unattended, "-csv", "-json" and "-vulnlist" write the exports once every digest and verdict is in;
  Python's csv and json modules read them back; a list naming one file's SHA-256 flags its row and
  the exit code carries 4; a list that cannot be read carries 8.
- A list loaded from the command line shows the "Known Vulnerable" column in the window.
- The lists in the "vulnlists" folder beside the program are loaded in both modes; one that is
  malformed sets flag 8 unattended and is named in a message box in the window.
- A list cut short (a CSV ending inside a quoted cell, a policy ending inside an element) sets
  flag 8 and its entries before the cut still match; a list file over the size limit (a sparse
  file) sets flag 8.
- Block rules by name and version match the binary file version of a version-resource fixture
  whose FileVersion string says less, by the version-resource string each rule names.

    trust_lists_e2e.py --exe TolvessaTestable.exe --probe tolvessa_probe.exe --shots DIR
                       --images DIR --version-images DIR
"""
import calendar
import csv
import io
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui  # noqa: E402
import wine_run  # noqa: E402

ARGS = None
SHOW_HASHES = 1008
CAPTIONS = ["Load Order", "Image Name", "Base Address", "Image Size", "Publisher", "Description",
            "Version", "MD5 Hash", "Hidden", "Exists", "SHA-1", "SHA-256", "PE SHA-1",
            "PE SHA-256", "Imphash", "Signature", "Signer", "Catalog", "Known Vulnerable"]
# The image, and the verdict and signer Wine's WinVerifyTrust gives for it. Wine passes an intact
# signature whatever its root (Windows would call untrusted_64.exe "Untrusted").
IMAGES = [
    ("signed_64.exe", "Embedded", "Tolvessa Test Signer"),
    ("tampered_64.exe", "Invalid", None),
    ("unsigned_64.exe", "Unsigned", ""),
    ("untrusted_64.exe", "Embedded", "Tolvessa Stray Signer"),
]
ODD_NAME = "odd, n\u00e4me \u20ac.sys"  # a comma and text beyond ASCII in a cell


def lol_drivers_csv(sha256, ident):
    return ("Id,Category,Tags,KnownVulnerableSamples_MD5,KnownVulnerableSamples_SHA1,"
            "KnownVulnerableSamples_SHA256,KnownVulnerableSamples_Authentihash_MD5,"
            "KnownVulnerableSamples_Authentihash_SHA1,KnownVulnerableSamples_Authentihash_SHA256\r\n"
            "%s,vulnerable driver,\"a, b\",,,\"%s, %s\",,,\r\n" % (ident, "0" * 64, sha256))


class TrustListsTest(wine_run.FolderTest):
    FOLDER_PREFIX = "tolvessa-trust-lists-"
    # Version-resource fixtures listed after the signed images, copied under these names.
    EXTRA = []

    def setUp(self):
        super().setUp()
        self.files = []
        for name, _, _ in IMAGES:
            shutil.copy(os.path.join(ARGS.images, name), os.path.join(self.dir, name))
            self.files.append(os.path.join(self.dir, name))
        odd = os.path.join(self.dir, ODD_NAME)
        shutil.copy(os.path.join(ARGS.images, "unsigned_64.exe"), odd)
        with open(odd, "ab") as f:
            f.write(b"\0" * 16)  # a hash of its own
        self.files.append(odd)
        for fixture, name in self.EXTRA:
            shutil.copy(os.path.join(ARGS.version_images, fixture), os.path.join(self.dir, name))
            self.files.append(os.path.join(self.dir, name))
        self.env = wine_run.write_module_table(os.path.join(self.dir, "modules.bin"),
                                               wine_run.device_paths(self.files), ARGS.exe)

    def run_unattended(self, args, exe=None):
        return wine_run.run_exe(exe or ARGS.exe, args, cwd=self.dir, env=self.env, timeout=180)

    def run_with_list(self, list_path):
        """Runs unattended with this list and a CSV export: the exit code and the export's rows
        after its header."""
        out_csv = os.path.join(self.dir, "out.csv")
        code = self.run_unattended(["-vulnlist", wine_run.windows_path(list_path),
                                    "-csv", wine_run.windows_path(out_csv)])
        return code, wine_run.read_csv_cells(out_csv)

    def write_list(self, name, text):
        """A list file in the test folder, written as it stands (no line-end translation)."""
        path = os.path.join(self.dir, name)
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def test_exports_carry_every_cell_and_a_listed_driver_gives_exit_4(self):
        listed = self.files[2]  # unsigned_64.exe
        list_path = self.write_list("drivers.csv", lol_drivers_csv(wine_run.sha256_of(listed),
                                                                   "e2e-0001"))
        out_csv = os.path.join(self.dir, "out.csv")
        out_json = os.path.join(self.dir, "out.json")
        started = time.time()
        code = self.run_unattended(["-vulnlist", wine_run.windows_path(list_path),
                                    "-csv", wine_run.windows_path(out_csv),
                                    "-json", wine_run.windows_path(out_json)])
        self.assertEqual(code, 4)

        with open(out_csv, "rb") as f:
            raw = f.read()
        self.assertFalse(raw.startswith(b"\xef\xbb\xbf"), "no byte-order mark")
        rows = list(csv.reader(io.StringIO(raw.decode("utf-8"), newline="")))
        self.assertEqual(rows[0], CAPTIONS)
        body = rows[1:]
        self.assertEqual(len(body), len(self.files))
        document = wine_run.read_json(out_json)
        modules = document["modules"]
        self.assertEqual(len(modules), len(self.files))
        self.assertEqual(document.get("bits"), 64 if wine_run.is_64bit(ARGS.exe) else 32)
        # When the list was taken: UTC, ISO 8601, within the run.
        taken = calendar.timegm(time.strptime(document["time"], "%Y-%m-%dT%H:%M:%SZ"))
        self.assertLess(abs(taken - started), 300, document["time"])

        for i, (row, path) in enumerate(zip(body, self.files)):
            cells = dict(zip(CAPTIONS, row))
            self.assertTrue(cells["Image Name"].endswith(os.path.basename(path)), cells)
            self.assertEqual(cells["SHA-256"], wine_run.sha256_of(path).upper())
            if i < len(IMAGES):
                _, verdict, signer = IMAGES[i]
                self.assertEqual(cells["Signature"], verdict, path)
                if signer is not None:
                    self.assertEqual(cells["Signer"], signer, path)
            if path == listed:
                self.assertIn("e2e-0001", cells["Known Vulnerable"])
                self.assertIn("file hash SHA-256", cells["Known Vulnerable"])
            else:
                self.assertEqual(cells["Known Vulnerable"], "", path)
            # The JSON document says the same of the row.
            text = json.dumps(modules[i], ensure_ascii=False)
            self.assertIn(wine_run.sha256_of(path).upper(), text)
            self.assertIn(json.dumps(os.path.basename(path), ensure_ascii=False)[1:-1], text)

    def test_a_later_round_without_a_table_loses_no_row_nor_flag(self):
        # The first scan reads the table, the second a file that is not there.
        table = wine_run.windows_path(os.path.join(self.dir, "modules.bin"))
        missing = wine_run.windows_path(os.path.join(self.dir, "no-such-table.bin"))
        self.env["TOLVESSA_MODULE_TABLE"] = table + "|" + missing
        listed = self.files[2]  # unsigned_64.exe
        list_path = self.write_list("drivers.csv", lol_drivers_csv(wine_run.sha256_of(listed),
                                                                   "e2e-0002"))
        out_csv = os.path.join(self.dir, "out.csv")
        code = self.run_unattended(["-log", "a.log", "-log", "b.log",
                                    "-vulnlist", wine_run.windows_path(list_path),
                                    "-csv", wine_run.windows_path(out_csv)])
        # The table unread (1) and a listed driver loaded (4), from the first round's rows.
        self.assertEqual(code, 5)
        with open(out_csv, "rb") as f:
            rows = list(csv.reader(io.StringIO(f.read().decode("utf-8"), newline="")))
        self.assertEqual(rows[0], CAPTIONS)
        body = [dict(zip(CAPTIONS, row)) for row in rows[1:]]
        self.assertEqual(len(body), len(self.files))
        for cells, path in zip(body, self.files):
            self.assertEqual(cells["SHA-256"], wine_run.sha256_of(path).upper(), path)
            self.assertNotEqual(cells["Signature"], "", path)
            self.assertEqual("e2e-0002" in cells["Known Vulnerable"], path == listed, path)

    def test_an_unreadable_list_gives_8_and_the_export_is_still_written(self):
        code, rows = self.run_with_list(os.path.join(self.dir, "no-such-list.csv"))
        self.assertEqual(code, 8)
        self.assertEqual(len(rows), len(self.files))

    def test_a_cut_list_gives_8_and_its_rows_before_the_cut_still_match(self):
        whole = lol_drivers_csv(wine_run.sha256_of(self.files[2]), "e2e-0003")
        # The next row is cut inside its quoted SHA-256 cell, which would name files[0].
        cut = whole + "e2e-0004,vulnerable driver,,,,\"%s" % wine_run.sha256_of(self.files[0])[:40]
        list_path = self.write_list("cut.csv", cut)
        code, rows = self.run_with_list(list_path)
        self.assertEqual(code, 4 | 8)
        self.assertIn("e2e-0003", rows[2][-1])
        self.assertEqual([r[-1] for i, r in enumerate(rows) if i != 2], [""] * (len(rows) - 1))

    def test_a_list_over_the_size_limit_gives_8(self):
        list_path = os.path.join(self.dir, "huge.csv")
        with open(list_path, "wb") as f:
            f.write(lol_drivers_csv(wine_run.sha256_of(self.files[2]), "e2e-0005").encode())
            f.truncate((256 << 20) + 1)  # sparse: the rest is never written
        code, rows = self.run_with_list(list_path)
        self.assertEqual(code, 8)
        self.assertEqual([r[-1] for r in rows], [""] * len(rows))

    def test_window_shows_verdicts_and_the_list_column(self):
        listed = self.files[0]
        list_path = self.write_list("drivers.csv", lol_drivers_csv(wine_run.sha256_of(listed),
                                                                   "e2e-0002"))
        g = gui.Gui(ARGS.exe, ARGS.probe, ARGS.shots)
        app = wine_run.start_exe(ARGS.exe, ["-vulnlist", wine_run.windows_path(list_path)],
                                 cwd=self.dir, env=self.env)
        try:
            wine_run.main_window()
            status = "   %d Modules Loaded" % len(self.files)
            g.wait_status(status)
            # With a list loaded: the ten columns and "Known Vulnerable", filled in by the workers.
            rows = g.wait_for(lambda: [r for r in [g.rows()] if r and len(r[0]) == 11 and
                                       r[0][10]], what="the Known Vulnerable cell")[0]
            self.assertIn("e2e-0002", rows[0][10])
            self.assertTrue(all(r[10] == "" for r in rows[1:]), rows)
            g.probe("command", str(SHOW_HASHES))
            g.wait_status(status)
            rows = g.rows_when(lambda rows: rows and all(len(r) == 19 and r[15] for r in rows), 90)
            g.screenshot("trust-lists")
            self.assertEqual(len(rows), len(self.files))
            for (name, verdict, signer), row in zip(IMAGES, rows):
                self.assertTrue(row[1].endswith(name), row)
                self.assertEqual(row[15], verdict, name)
                if signer is not None:
                    self.assertEqual(row[16], signer, name)
                self.assertEqual(row[17], "", name)
            self.assertIn("e2e-0002", rows[0][18])
        finally:
            wine_run.stop_exe(app)


# Deny rules by name and version over version_binary_64.exe: OriginalFilename "oldio.sys",
# InternalName "oldio-internal", ProductName "Old I/O Suite", binary version 2.5.0.12 and the
# FileVersion string "2.5". The policy ends inside its last rule, which would name the file too.
NAME_POLICY = """<?xml version="1.0" encoding="utf-8"?>
<SiPolicy xmlns="urn:schemas-microsoft-com:sipolicy">
  <FileRules>
    <Deny ID="ID_DENY_UP_TO_2_5_0_11" FriendlyName="" FileName="oldio.sys" MinimumFileVersion="2.5.0.11" />
    <Deny ID="ID_DENY_FROM_2_5_0_12" FriendlyName="" FileName="OLDIO.SYS" MaximumFileVersion="2.5.0.12" />
    <Deny ID="ID_DENY_INTERNAL" FriendlyName="" InternalName="oldio-internal" MinimumFileVersion="2.5.0.12" MaximumFileVersion="2.5.0.12" />
    <Deny ID="ID_DENY_PRODUCT_NAMED_LIKE_THE_FILE" FriendlyName="" ProductName="oldio.sys" MinimumFileVersion="65535.65535.65535.65535" />
    <Deny ID="ID_DENY_CUT" FriendlyName="" FileName="oldio.sys" MinimumFileVers"""


class NameRulesTest(TrustListsTest):
    EXTRA = [("version_binary_64.exe", "oldio.sys")]

    # The tests of the base class are not run again here.
    test_exports_carry_every_cell_and_a_listed_driver_gives_exit_4 = None
    test_an_unreadable_list_gives_8_and_the_export_is_still_written = None
    test_window_shows_verdicts_and_the_list_column = None
    test_a_cut_list_gives_8_and_its_rows_before_the_cut_still_match = None
    test_a_list_over_the_size_limit_gives_8 = None

    def test_binary_version_and_named_string_of_a_cut_policy(self):
        list_path = self.write_list("policy.xml", NAME_POLICY)
        code, rows = self.run_with_list(list_path)
        self.assertEqual(code, 4 | 8)
        listed = rows[-1]
        self.assertTrue(listed[1].endswith("oldio.sys"), listed)
        self.assertEqual(listed[-1], "SiPolicy ID_DENY_FROM_2_5_0_12: name and version; "
                                     "SiPolicy ID_DENY_INTERNAL: name and version")
        self.assertEqual([r[-1] for r in rows[:-1]], [""] * (len(rows) - 1))


class ListsBesideProgramTest(TrustListsTest):
    def setUp(self):
        super().setUp()
        self.app_dir = os.path.join(self.dir, "app")
        lists = os.path.join(self.app_dir, "vulnlists")
        os.makedirs(lists)
        self.exe = os.path.join(self.app_dir, os.path.basename(ARGS.exe))
        shutil.copy(ARGS.exe, self.exe)
        with open(os.path.join(lists, "a.CSV"), "w", newline="") as f:
            f.write(lol_drivers_csv(wine_run.sha256_of(self.files[1]), "beside-01"))
        with open(os.path.join(lists, "bad.xml"), "w") as f:
            f.write("<SiPolicy><oops")
        with open(os.path.join(lists, "notes.txt"), "w") as f:
            f.write("not a list: never read")

    # The tests of the base class are not run again here.
    test_exports_carry_every_cell_and_a_listed_driver_gives_exit_4 = None
    test_an_unreadable_list_gives_8_and_the_export_is_still_written = None
    test_window_shows_verdicts_and_the_list_column = None
    test_a_cut_list_gives_8_and_its_rows_before_the_cut_still_match = None
    test_a_list_over_the_size_limit_gives_8 = None

    def test_unattended_they_match_and_the_bad_one_is_flag_8(self):
        out_csv = os.path.join(self.dir, "out.csv")
        code = self.run_unattended(["-csv", wine_run.windows_path(out_csv)], exe=self.exe)
        self.assertEqual(code, 4 | 8)
        rows = wine_run.read_csv_cells(out_csv)
        self.assertIn("beside-01", rows[1][-1])
        self.assertEqual([r[-1] for i, r in enumerate(rows) if i != 1], [""] * (len(rows) - 1))

    def test_interactive_the_bad_one_is_named_in_a_box_and_the_good_one_matches(self):
        g = gui.Gui(self.exe, ARGS.probe, ARGS.shots)
        app = wine_run.start_exe(self.exe, cwd=self.dir, env=self.env)
        try:
            boxes = g.wait_for(wine_run.message_boxes, 60, "the message about bad.xml")
            g.screenshot("list-failure-box")
            time.sleep(0.5)
            wine_run.press_return(boxes)
            wine_run.main_window()
            g.wait_status("   %d Modules Loaded" % len(self.files))
            rows = g.wait_for(lambda: [r for r in [g.rows()] if r and len(r[1]) == 11 and
                                       r[1][10]], what="the Known Vulnerable cell")[0]
            self.assertIn("beside-01", rows[1][10])
        finally:
            wine_run.stop_exe(app)


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--exe", "--probe", "--shots", "--images",
                                       "--version-images")
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
