#!/usr/bin/env python3
"""The exports against their documentation: the JSON document validates against
docs/tolvessa-export.schema.json, the schema names exactly the fields the writer writes (and
refuses documents with a field more, less or of another type), and the CSV is RFC 4180 with the
columns docs/exports.md names, row for row the same modules as the JSON.

    export_schema_test.py --sample tolvessa_export_sample --schema SCHEMA --lists DIR

Needs python3-jsonschema (Debian; tools/setup.sh installs it).
"""
import argparse
import copy
import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

try:
    import jsonschema
except ImportError:  # say so plainly rather than skip: the check is part of the suite
    sys.exit("python3-jsonschema is missing: run tools/setup.sh (apt-get install python3-jsonschema)")

ARGS = None

CSV_COLUMNS = ["Load Order", "Image Name", "Base Address", "Image Size", "Publisher",
               "Description", "Version", "MD5 Hash", "Hidden", "Exists", "SHA-1", "SHA-256",
               "PE SHA-1", "PE SHA-256", "Imphash", "Signature", "Signer", "Catalog",
               "Known Vulnerable"]


def make_exports(directory):
    csv_path = os.path.join(directory, "drivers.csv")
    json_path = os.path.join(directory, "drivers.json")
    subprocess.run([ARGS.sample, "--csv", csv_path, "--json", json_path,
                    "--list", os.path.join(ARGS.lists, "drivers.csv"),
                    "--list", os.path.join(ARGS.lists, "sipolicy.xml")], check=True)
    with open(csv_path, "rb") as f:
        csv_bytes = f.read()
    with open(json_path, "rb") as f:
        json_bytes = f.read()
    return csv_bytes, json_bytes


def csv_text(text):
    """A text as the CSV writes it: after an apostrophe when a spreadsheet would take it for a
    formula."""
    return "'" + text if text[:1] in ("=", "+", "-", "@", "\t", "\r") else text


class ExportSchemaTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory(prefix="tolvessa-export-") as directory:
            cls.csv_bytes, cls.json_bytes = make_exports(directory)
        with open(ARGS.schema, encoding="utf-8") as f:
            cls.schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(cls.schema)
        cls.validator = jsonschema.Draft202012Validator(cls.schema)
        cls.document = json.loads(cls.json_bytes.decode("utf-8"))

    def test_document_is_utf8_without_a_mark_and_valid(self):
        self.assertFalse(self.json_bytes.startswith(b"\xef\xbb\xbf"))
        errors = [e.message for e in self.validator.iter_errors(self.document)]
        self.assertEqual(errors, [])
        self.assertEqual(len(self.document["modules"]), 5)
        self.assertEqual([m["signature"] for m in self.document["modules"]],
                         ["Embedded", "Catalog", None, "Unsigned", "Unreadable"])

    def test_schema_names_exactly_the_fields_written(self):
        defs = self.schema["$defs"]
        levels = [("document", self.schema, [self.document]),
                  ("module", defs["module"], self.document["modules"]),
                  ("match", defs["match"],
                   [m for module in self.document["modules"] for m in module["knownVulnerable"]])]
        for name, part, objects in levels:
            with self.subTest(level=name):
                self.assertTrue(objects, "the sample writes no " + name)
                declared = list(part["properties"])
                self.assertEqual(sorted(part["required"]), sorted(declared))
                self.assertIs(part["additionalProperties"], False)
                for obj in objects:
                    # Same names, in the order the schema lists them.
                    self.assertEqual(list(obj), declared)

    def test_schema_refuses_what_the_writer_never_writes(self):
        def broken(change):
            document = copy.deepcopy(self.document)
            change(document)
            return document
        cases = {
            "field_missing": lambda d: d["modules"][0].pop("peSha256"),
            "field_more": lambda d: d["modules"][0].update(extra=1),
            "match_field_more": lambda d: d["modules"][0]["knownVulnerable"][0].update(x=1),
            "load_order_as_text": lambda d: d["modules"][0].update(loadOrder="0"),
            "hidden_as_text": lambda d: d["modules"][0].update(hidden="False"),
            "lower_case_digest": lambda d: d["modules"][0].update(sha1=d["modules"][0]["sha1"].lower()),
            "short_digest": lambda d: d["modules"][0].update(sha256="ABC"),
            "unknown_verdict": lambda d: d["modules"][0].update(signature="Signed"),
            "verdict_in_lower_case": lambda d: d["modules"][4].update(signature="unreadable"),
            "unknown_matched": lambda d: d["modules"][0]["knownVulnerable"][0].update(matched="name"),
            "local_time": lambda d: d.update(time="2026-03-01T09:05:07+01:00"),
            "bits_16": lambda d: d.update(bits=16),
        }
        for name, change in cases.items():
            with self.subTest(case=name):
                self.assertFalse(self.validator.is_valid(broken(change)))

    def test_matches_of_the_sample(self):
        modules = self.document["modules"]
        self.assertEqual([(m["list"], m["id"], m["category"], m["matched"])
                          for m in modules[0]["knownVulnerable"]],
                         [("LOLDrivers", "3f1c2a9e-7b4d-4c1e-9a55-0d2b8e6f1a01", "vulnerable driver",
                           "file hash MD5"),
                          ("LOLDrivers", "3f1c2a9e-7b4d-4c1e-9a55-0d2b8e6f1a01", "vulnerable driver",
                           "file hash SHA-1"),
                          ("LOLDrivers", "3f1c2a9e-7b4d-4c1e-9a55-0d2b8e6f1a01", "vulnerable driver",
                           "file hash SHA-256"),
                          ("LOLDrivers", "3f1c2a9e-7b4d-4c1e-9a55-0d2b8e6f1a01", "vulnerable driver",
                           "image hash SHA-256"),
                          ("SiPolicy", "ID_DENY_FIXVULN_SHA256", None, "image hash SHA-256")])
        self.assertEqual([(m["list"], m["id"], m["matched"]) for m in modules[1]["knownVulnerable"]],
                         [("LOLDrivers", "9a7d3b61-05fc-4a2e-9d48-c7b1e2f6a306", "file hash SHA-256"),
                          ("SiPolicy", "ID_DENY_OLDIO", "name and version")])
        self.assertEqual(modules[2]["knownVulnerable"], [])
        self.assertIsNone(modules[2]["signature"])
        self.assertIsNone(modules[2]["hidden"])
        self.assertEqual(modules[2]["description"], "lone \ufffd")

    def test_csv_guards_formula_texts_and_json_keeps_them(self):
        module = self.document["modules"][3]
        self.assertEqual(module["publisher"], "@Acme")
        self.assertEqual(module["version"], "-1.0")
        rows = list(csv.reader(io.StringIO(self.csv_bytes.decode("utf-8"), newline="")))
        cells = dict(zip(CSV_COLUMNS, rows[4]))
        self.assertEqual(cells["Publisher"], "'@Acme")
        self.assertEqual(cells["Description"], "'" + module["description"])
        self.assertEqual(cells["Version"], "'-1.0")

    def test_csv_is_rfc4180_with_the_documented_columns_row_for_row(self):
        self.assertFalse(self.csv_bytes.startswith(b"\xef\xbb\xbf"))
        text = self.csv_bytes.decode("utf-8")
        # Every record ends with CR LF; line breaks inside a cell are inside quotes.
        self.assertTrue(text.endswith("\r\n"))
        rows = list(csv.reader(io.StringIO(text, newline=""), strict=True))
        self.assertEqual(rows[0], CSV_COLUMNS)
        self.assertEqual(len(rows), 1 + len(self.document["modules"]))
        for row, module in zip(rows[1:], self.document["modules"]):
            self.assertEqual(len(row), len(CSV_COLUMNS))
            cells = dict(zip(CSV_COLUMNS, row))
            self.assertEqual(cells["Image Name"], module["imageName"])
            self.assertEqual(cells["Description"], csv_text(module["description"]))
            self.assertEqual(cells["Publisher"], csv_text(module["publisher"]))
            self.assertEqual(cells["Version"], csv_text(module["version"]))
            self.assertEqual(cells["PE SHA-256"], module["peSha256"])
            self.assertEqual(cells["Signature"], module["signature"] or "")
            self.assertEqual(cells["Known Vulnerable"] == "", module["knownVulnerable"] == [])
        self.assertEqual(rows[2][CSV_COLUMNS.index("Known Vulnerable")],
                         "LOLDrivers 9a7d3b61-05fc-4a2e-9d48-c7b1e2f6a306 (vulnerable driver): "
                         "file hash SHA-256; SiPolicy ID_DENY_OLDIO: name and version")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--sample", required=True)
    parser.add_argument("--schema", required=True)
    parser.add_argument("--lists", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
