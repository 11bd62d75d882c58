#!/usr/bin/env python3
"""tolvessa_scan, the host scanner: recordings in both layouts of the kernel's module table,
replayed over a folder standing in for drive C:; the signature verdicts of the signed test images
(with their catalogs and test root), of timestamped signatures whose signers have expired, the
vulnerable-driver lists, the exports and the exit code.

    scan_tool_test.py --scan tolvessa_scan --trust-images DIR --version-images DIR
                      [--windows-samples DIR]

--trust-images is the output folder of tests/fixtures/trust/make_signed_images.py, and
--version-images the folder of the version-resource images of tests/fixtures.
"""
import argparse
import csv
import datetime
import hashlib
import io
import json
import os
import shutil
import socket
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


SIGNER = "Tolvessa Test Signer"
STRAY = "Tolvessa Stray Signer"
# Every caption a row can print, in order; "Known Vulnerable" only with a list loaded.
CAPTIONS = ["Load Order", "Image Name", "Base Address", "Image Size", "Publisher", "Description",
            "Version", "MD5 Hash", "Hidden", "Exists", "SHA-1", "SHA-256", "PE SHA-1",
            "PE SHA-256", "Imphash", "Signature", "Signer", "Catalog", "Known Vulnerable"]
LOL_HEADER = ("Id,Category,KnownVulnerableSamples_MD5,KnownVulnerableSamples_SHA1,"
              "KnownVulnerableSamples_SHA256,KnownVulnerableSamples_Authentihash_SHA1,"
              "KnownVulnerableSamples_Authentihash_SHA256\r\n")


def split_line(line):
    """A printed line as (label, value): the label padded to 13 characters, or longer."""
    label = line[:13].rstrip()
    if line.startswith("Known Vulnerable "):
        label = "Known Vulnerable"
    return label, line[max(len(label), 13) + 1:]


def rows_of(output):
    """The printed rows as lists of (label, value), and the closing count line."""
    blocks = output.rstrip("\n").split("\n\n")
    rows = [[split_line(line) for line in block.split("\n")] for block in blocks[:-1]]
    return rows, blocks[-1]


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


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
        # The digests and the verdict after the ten cells: the file is no PE image, so only the
        # file hashes, and no signature.
        self.assertEqual([label for label, _ in rows64[0]][10:],
                         ["SHA-1", "SHA-256", "PE SHA-1", "PE SHA-256", "Imphash", "Signature",
                          "Signer", "Catalog"])
        self.assertEqual(kernel["SHA-1"], hashlib.sha1(self.kernel).hexdigest().upper())
        self.assertEqual(kernel["SHA-256"], hashlib.sha256(self.kernel).hexdigest().upper())
        self.assertEqual((kernel["PE SHA-1"], kernel["PE SHA-256"], kernel["Imphash"]), ("", "", ""))
        self.assertEqual(dict(rows64[1])["SHA-256"], "")  # no file, no digest
        self.assertEqual((kernel["Signature"], kernel["Signer"]), ("Unsigned", ""))
        self.assertEqual(dict(rows64[1])["Signature"], "")  # no file, no verdict
        self.assertEqual(dict(rows64[2])["SHA-256"], hashlib.sha256(b"").hexdigest().upper())
        self.assertEqual(dict(rows64[1])["Exists"], "False")
        self.assertEqual(dict(rows64[2])["Image Name"], "C:\\Tools\\acme.sys")

    def test_a_table_read_in_the_other_layout_is_not_the_same_table(self):
        table = os.path.join(self.dir, "t64.bin")
        self.scan("--layout", "64", "--record", table, *PATHS)
        rows, _ = rows_of(self.scan("--drive-c", self.drive_c, table).stdout)
        self.assertNotEqual([dict(r)["Image Name"] for r in rows][:1],
                            ["C:\\windows\\system32\\ntoskrnl.exe"])

    def test_log_writes_the_report_instead_of_the_rows(self):
        table = os.path.join(self.dir, "t.bin")
        self.scan("--record", table, *PATHS)
        # (report path, exit code): a report that cannot be written is flag 2.
        cases = [(os.path.join(self.dir, "r.log"), 0), (os.path.join(self.dir, "no", "r.log"), 2)]
        for report, code in cases:
            proc = self.scan("--drive-c", self.drive_c, "--log", report, table, check=False)
            self.assertEqual(proc.returncode, code, proc.stderr)
            self.assertEqual(proc.stdout, "")
            self.assertEqual(os.path.exists(report), code == 0)
            if code == 0:
                with open(report, encoding="utf-8-sig") as f:
                    self.assertIn("C:\\windows\\system32\\ntoskrnl.exe", f.read())
            else:
                self.assertIn(report, proc.stderr)
                self.assertNotIn("usage:", proc.stderr)

    def test_unknown_layout_is_a_usage_error(self):
        for bad in ("48", "", "x64"):
            proc = self.scan("--layout", bad, "--record", os.path.join(self.dir, "t.bin"),
                             *PATHS, check=False)
            self.assertEqual(proc.returncode, 2, bad)
            self.assertIn("usage:", proc.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.dir, "t.bin")))


class SignedImagesTest(unittest.TestCase):
    """The signed test images under the stand-in drive C:, named by a recorded 64-bit table."""

    # (image, Signature, Signer, Catalog) with the test root trusted and the fixture catalogs.
    VERDICTS = [
        ("signed_64.exe", "Embedded", SIGNER, ""),
        ("tampered_64.exe", "Invalid", SIGNER, ""),  # the image changed after signing
        ("untrusted_64.exe", "Untrusted", STRAY, ""),
        ("unsigned_64.exe", "Unsigned", "", ""),
        ("catalog_member_64.exe", "Catalog", SIGNER, "tolvessa_test.cat"),
        # A catalog's own verdict names the catalog that gave it.
        ("catalog_stray_64.exe", "Untrusted", STRAY, "stray.cat"),
        ("catalog_changed_64.exe", "Unsigned", "", ""),  # its listed hash is not its own
        ("gone.sys", "", "", ""),  # no file: not checked
    ]

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-scan-")
        self.dir = self.tmp.name
        tools = os.path.join(self.dir, "c", "Tools")
        os.makedirs(tools)
        self.images = [image for image, *_ in self.VERDICTS]
        for image in self.images:
            if image != "gone.sys":
                shutil.copy(os.path.join(ARGS.trust_images, image), tools)
        self.version_image = "version_basic_64.dll"
        shutil.copy(os.path.join(ARGS.version_images, self.version_image), tools)
        self.tables = {}
        for bits in LAYOUTS:
            self.tables[bits] = os.path.join(self.dir, "t%s.bin" % bits)
            self.run_scan(
                "--layout", bits, "--record", self.tables[bits],
                *["\\??\\C:\\Tools\\" + image for image in self.images + [self.version_image]])
        self.trust = ["--catalogs", os.path.join(ARGS.trust_images, "catroot"), "--roots",
                      os.path.join(ARGS.trust_images, "test_root.pem")]

    def tearDown(self):
        self.tmp.cleanup()

    def run_scan(self, *args, bits="64", expect=0, as_user=()):
        if "--record" not in args:
            args = ("--layout", bits, "--drive-c", os.path.join(self.dir, "c")) + args + (
                self.tables[bits],)
        proc = subprocess.run(list(as_user) + [ARGS.scan] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
        self.assertEqual(proc.returncode, expect, proc.stderr)
        return proc

    def rows(self, proc):
        rows, count = rows_of(proc.stdout)
        self.assertEqual(count, "%d Modules Loaded" % (len(self.images) + 1))
        return [dict(row) for row in rows]

    def lol_list(self, *sha256):
        """A LOLDrivers list whose one entry names the files of these SHA-256 digests."""
        return self.write("drivers.csv", LOL_HEADER + "fix-0001,vulnerable driver,,,\"%s\",,\r\n"
                          % ", ".join(sha256))

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def tool_path(self, image):
        return os.path.join(self.dir, "c", "Tools", image)

    def test_verdict_of_each_image(self):
        proc = self.run_scan(*self.trust)
        rows = self.rows(proc)
        for row, (image, signature, signer, catalog) in zip(rows, self.VERDICTS):
            self.assertEqual(row["Image Name"], "C:\\Tools\\" + image)
            self.assertEqual((row["Signature"], row["Signer"], row["Catalog"]),
                             (signature, signer, catalog), image)
            self.assertNotIn("Known Vulnerable", row)  # no list loaded
        # garbage.cat and truncated.cat are no catalogs; the six others are read.
        self.assertIn(": 6 catalogs read, 2 files skipped as no catalog", proc.stderr)

    def test_a_file_the_scanner_may_not_read_is_unreadable(self):
        # Run as nobody (root reads any file whatever its mode): the folders may be passed
        # through, one image may be read by its owner only.
        locked = self.tool_path("signed_64.exe")
        os.chmod(self.dir, 0o711)
        as_user = ()
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if not setpriv:
                self.skipTest("setpriv (util-linux) is needed to run the scanner as nobody")
            as_user = (setpriv, "--reuid=65534", "--regid=65534", "--clear-groups")
            os.chmod(locked, 0o600)
        else:
            os.chmod(locked, 0o000)
        rows = {row["Image Name"].split("\\")[-1]: row
                for row in self.rows(self.run_scan(*self.trust, as_user=as_user))}
        self.assertEqual((rows["signed_64.exe"]["Exists"], rows["signed_64.exe"]["Signature"],
                          rows["signed_64.exe"]["Signer"], rows["signed_64.exe"]["SHA-256"]),
                         ("True", "Unreadable", "", ""))
        # The files it may read are judged as ever.
        self.assertEqual(rows["unsigned_64.exe"]["Signature"], "Unsigned")
        self.assertEqual(rows["catalog_member_64.exe"]["Signature"], "Catalog")
        self.assertEqual(rows["tampered_64.exe"]["Signature"], "Invalid")

    def test_roots_and_catalogs_decide_the_verdicts(self):
        catroot = os.path.join(ARGS.trust_images, "catroot")
        root = os.path.join(ARGS.trust_images, "test_root.pem")
        stray = os.path.join(ARGS.trust_images, "stray_root.pem")
        # (arguments, verdict of signed_64.exe, of untrusted_64.exe, of catalog_member_64.exe)
        cases = [
            # The system's store knows neither test root; no catalog folder, no catalog.
            ((), "Untrusted", "Untrusted", "Unsigned"),
            (("--roots", root), "Embedded", "Untrusted", "Unsigned"),
            (("--roots", stray), "Untrusted", "Embedded", "Unsigned"),
            (("--catalogs", catroot), "Untrusted", "Untrusted", "Untrusted"),
            (("--catalogs", catroot, "--roots", root), "Embedded", "Untrusted", "Catalog"),
            (("--catalogs", os.path.join(self.dir, "none"), "--roots", root), "Embedded",
             "Untrusted", "Unsigned"),
        ]
        for args, signed, untrusted, member in cases:
            proc = self.run_scan(*args)
            verdicts = {row["Image Name"].split("\\")[-1]: row["Signature"]
                        for row in self.rows(proc)}
            self.assertEqual((verdicts["signed_64.exe"], verdicts["untrusted_64.exe"],
                              verdicts["catalog_member_64.exe"]), (signed, untrusted, member), args)
            self.assertEqual("catalogs read" in proc.stderr, "--catalogs" in args, args)

    def test_vulnerable_lists_name_the_rows_they_match(self):
        tampered = sha256_of(self.tool_path("tampered_64.exe"))
        unknown = "00" * 32
        lol = self.lol_list(unknown, tampered.upper())
        # The version image's OriginalFilename is fixture.sys, its FileVersion 10.0.19041.1.
        policy = self.write("policy.xml", (
            '<?xml version="1.0"?>\n<SiPolicy xmlns="urn:schemas-microsoft-com:sipolicy">'
            '<FileRules><Deny ID="ID_DENY_FIXTURE" FriendlyName="" FileName="fixture.sys" '
            'MaximumFileVersion="10.0.19041.1"/></FileRules></SiPolicy>\n'))
        expected = {"tampered_64.exe": "LOLDrivers fix-0001 (vulnerable driver): file hash SHA-256",
                    self.version_image: "SiPolicy ID_DENY_FIXTURE: name and version"}
        proc = self.run_scan(*self.trust, "--vulnlist", lol, "--vulnlist", policy, expect=4)
        for row in self.rows(proc):
            image = row["Image Name"].split("\\")[-1]
            self.assertEqual(row["Known Vulnerable"], expected.get(image, ""), image)
            self.assertEqual(list(row), CAPTIONS)
        # A list that names no loaded driver: every line is there, empty, and nothing is found.
        proc = self.run_scan("--vulnlist", self.lol_list(unknown))
        self.assertEqual({row["Known Vulnerable"] for row in self.rows(proc)}, {""})

    def test_lists_that_cannot_be_read(self):
        missing = os.path.join(self.dir, "missing.csv")
        no_columns = self.write("columns.csv", "Id,Category\r\nfix-0001,vulnerable driver\r\n")
        bad_xml = self.write("bad.xml", "<?xml version='1.0'?><SiPolicy><FileRules></SiPolicy>")
        cases = [(missing, "No such file or directory"), (self.dir, "not a regular file"),
                 (no_columns, "KnownVulnerableSamples_MD5"), (bad_xml, "")]
        for path, why in cases:
            proc = self.run_scan("--vulnlist", path, expect=8)
            self.assertIn(path, proc.stderr)
            self.assertIn(why, proc.stderr)
            # The scan goes on without it; no list is loaded, so no line for one.
            rows = self.rows(proc)
            self.assertNotIn("Known Vulnerable", rows[0])
        # A list cut short is used as far as it goes, and still sets flag 8: the rule before the
        # cut matches, the one it falls in does not.
        tampered_image = sha256_of(self.tool_path("tampered_64.exe"))
        cut = self.write("cut.csv", LOL_HEADER + "fix-0001,vulnerable driver,,,%s,,\r\n"
                         "fix-0002,malicious,,,\"%s" % (tampered_image,
                                                       sha256_of(self.tool_path("signed_64.exe"))))
        proc = self.run_scan("--vulnlist", cut, expect=4 | 8)
        self.assertIn(cut + " is cut short: it ends inside a quoted cell opened on line 3",
                      proc.stderr)
        found = {row["Image Name"]: row["Known Vulnerable"] for row in self.rows(proc)}
        self.assertIn("fix-0001", found["C:\\Tools\\tampered_64.exe"])
        self.assertEqual(found["C:\\Tools\\signed_64.exe"], "")
        # The flags add up: a list unread, another that matches a row.
        tampered = sha256_of(self.tool_path("tampered_64.exe"))
        proc = self.run_scan("--vulnlist", missing, "--vulnlist", self.lol_list(tampered),
                             expect=12)
        found = {row["Image Name"]: row["Known Vulnerable"] for row in self.rows(proc)}
        self.assertIn("fix-0001", found["C:\\Tools\\tampered_64.exe"])

    def test_exports_hold_the_printed_rows(self):
        lol = self.lol_list(sha256_of(self.tool_path("signed_64.exe")))
        for bits in LAYOUTS:
            csv_path = os.path.join(self.dir, "rows%s.csv" % bits)
            json_path = os.path.join(self.dir, "rows%s.json" % bits)
            before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
            proc = self.run_scan(*self.trust, "--vulnlist", lol, "--csv", csv_path, "--json",
                                 json_path, bits=bits, expect=4)
            after = datetime.datetime.now(datetime.timezone.utc)
            printed = [list(row.items()) for row in self.rows(proc)]

            with open(csv_path, "rb") as f:
                raw = f.read()
            self.assertFalse(raw.startswith(b"\xef\xbb\xbf"))
            table = list(csv.reader(io.StringIO(raw.decode("utf-8"), newline="")))
            self.assertEqual(table[0], CAPTIONS)
            self.assertEqual(table[1:], [[value for _, value in row] for row in printed])
            # Written after the workers were done: every file that is there has its digests.
            self.assertTrue(all(row[11] for row in table[1:] if row[9] == "True"))

            with open(json_path, "rb") as f:
                raw = f.read()
            self.assertFalse(raw.startswith(b"\xef\xbb\xbf"))
            document = json.loads(raw.decode("utf-8"))
            self.assertEqual(document["computerName"], socket.gethostname())
            self.assertEqual(document["bits"], int(bits))
            taken = datetime.datetime.strptime(document["time"], "%Y-%m-%dT%H:%M:%SZ").replace(
                tzinfo=datetime.timezone.utc)
            self.assertTrue(before <= taken <= after, document["time"])
            keys = {"Image Name": "imageName", "Base Address": "baseAddress",
                    "MD5 Hash": "md5", "SHA-1": "sha1", "SHA-256": "sha256", "PE SHA-1": "peSha1",
                    "PE SHA-256": "peSha256", "Signer": "signer", "Catalog": "catalog"}
            self.assertEqual(len(document["modules"]), len(printed))
            for module, row in zip(document["modules"], printed):
                cells = dict(row)
                for caption, key in keys.items():
                    self.assertEqual(module[key], cells[caption], key)
                self.assertEqual(module["loadOrder"], int(cells["Load Order"]))
                self.assertEqual(module["signature"], cells["Signature"] or None)
                self.assertEqual(module["exists"], cells["Exists"] == "True")
                self.assertEqual([m["id"] for m in module["knownVulnerable"]],
                                 ["fix-0001"] if cells["Known Vulnerable"] else [])
            self.assertEqual(sum(bool(m["knownVulnerable"]) for m in document["modules"]), 1)

    def test_exports_that_cannot_be_written(self):
        missing_folder = os.path.join(self.dir, "no", "rows.csv")
        # (arguments, exit code): each failure is flag 2, or-ed with the match's 4.
        tampered = sha256_of(self.tool_path("tampered_64.exe"))
        cases = [
            (("--csv", missing_folder), 2),
            (("--json", self.dir), 2),  # a folder
            (("--csv", missing_folder, "--vulnlist", self.lol_list(tampered)), 6),
        ]
        for args, code in cases:
            proc = self.run_scan(*args, expect=code)
            self.assertNotIn("usage:", proc.stderr)
            self.assertIn(args[1], proc.stderr)
            self.rows(proc)  # the rows are printed all the same
        # The file that can be written still is.
        good = os.path.join(self.dir, "good.json")
        self.run_scan("--csv", missing_folder, "--json", good, expect=2)
        with open(good, encoding="utf-8") as f:
            self.assertEqual(len(json.load(f)["modules"]), len(self.images) + 1)

    def test_an_unread_table_still_writes_the_exports(self):
        csv_path = os.path.join(self.dir, "rows.csv")
        proc = subprocess.run([ARGS.scan, "--csv", csv_path, os.path.join(self.dir, "none.bin")],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertIn("cannot read the module table", proc.stderr)
        self.assertEqual(proc.stdout, "")
        with open(csv_path, newline="", encoding="utf-8") as f:
            self.assertEqual(list(csv.reader(f)), [CAPTIONS])


def strip_signature(image):
    """The image without its certificate table (the last part of the file) and without the
    directory entry that names it: the same image hash, no embedded signature."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    magic = struct.unpack_from("<H", image, pe + 24)[0]
    entry = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8
    offset, size = struct.unpack_from("<II", image, entry)
    if not size or offset + size != len(image):
        raise AssertionError("the certificate table is not the end of the image")
    stripped = bytearray(image[:offset])
    struct.pack_into("<II", stripped, entry, 0, 0)
    return bytes(stripped)


class TimestampTest(unittest.TestCase):
    """Signatures whose signers (and time-stamping authorities) have expired since they were
    stamped: the real Windows samples beside the checkout with Microsoft's code roots, and the
    timestamp fixtures with their past root."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tolvessa-scan-")
        self.dir = self.tmp.name
        self.drivers = os.path.join(self.dir, "c", "Windows", "System32", "drivers")
        os.makedirs(self.drivers)

    def tearDown(self):
        self.tmp.cleanup()

    def scan(self, rows, *args):
        """Scans a 64-bit table naming the files `rows` in the drivers folder; the rows'
        (Signature, Signer, Catalog) by file name."""
        table = os.path.join(self.dir, "t.bin")
        subprocess.run([ARGS.scan, "--layout", "64", "--record", table] +
                       ["\\SystemRoot\\System32\\drivers\\" + name for name in rows],
                       check=True, stdout=subprocess.PIPE)
        proc = subprocess.run([ARGS.scan, "--layout", "64", "--drive-c",
                               os.path.join(self.dir, "c"), *args, table],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        found, _ = rows_of(proc.stdout)
        return {dict(row)["Image Name"].split("\\")[-1]:
                (dict(row)["Signature"], dict(row)["Signer"], dict(row)["Catalog"])
                for row in found}

    def test_windows_samples_are_trusted_as_windows_trusts_them(self):
        samples = ARGS.windows_samples
        if not samples or not os.path.isfile(os.path.join(samples, "microsoft-code-roots.pem")):
            self.skipTest("no Windows samples")
        for name in ("win11-DXCore.dll", "win7-x64-pciide.sys"):
            shutil.copy(os.path.join(samples, name), self.drivers)
        with open(os.path.join(samples, "win11-DXCore.dll"), "rb") as f:
            stripped = strip_signature(f.read())
        with open(os.path.join(self.drivers, "dxcore_unsigned.dll"), "wb") as f:
            f.write(stripped)
        names = ["win11-DXCore.dll", "win7-x64-pciide.sys", "dxcore_unsigned.dll"]
        roots = os.path.join(samples, "microsoft-code-roots.pem")
        self.assertEqual(self.scan(names, "--catalogs", samples, "--roots", roots), {
            "win11-DXCore.dll": ("Embedded", "Microsoft Windows", ""),
            "win7-x64-pciide.sys": ("Embedded", "Microsoft Windows", ""),
            "dxcore_unsigned.dll": ("Catalog", "Microsoft Windows", "win11-24h2-package.cat"),
        })

    def test_timestamp_fixtures(self):
        names = ["ts_valid_64.exe", "ts_outside_64.exe", "ts_stray_tsa_64.exe",
                 "ts_none_64.exe", "ts_lifetime_64.exe"]
        for name in names:
            shutil.copy(os.path.join(ARGS.trust_images, name), self.drivers)
        verdicts = self.scan(names, "--roots", os.path.join(ARGS.trust_images, "past_root.pem"))
        self.assertEqual({name: verdict[0] for name, verdict in verdicts.items()}, {
            "ts_valid_64.exe": "Embedded", "ts_outside_64.exe": "Untrusted",
            "ts_stray_tsa_64.exe": "Untrusted", "ts_none_64.exe": "Untrusted",
            "ts_lifetime_64.exe": "Untrusted"})


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--scan", required=True)
    parser.add_argument("--trust-images", required=True)
    parser.add_argument("--version-images", required=True)
    parser.add_argument("--windows-samples", default="",
                        help="the folder of the real Windows samples (tests skip without it)")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
