#!/usr/bin/env python3
"""The fleet engine's artifacts (integrations/Windows.Corvane.Tolvessa.yaml and the one that
adds the lists, Windows.Corvane.Tolvessa.WithLists.yaml) against what the engine requires of
an artifact and against the JSON export they read: the YAML parses, has a dotted name, sources
with queries, the tools, permissions and parameters its query uses, and the fields the query
takes from each module are exactly the export's (its schema's and the writer's), in order. fleet_vql_test.py runs the queries.

    fleet_artifact_test.py --artifact YAML --with-lists YAML --sample tolvessa_export_sample
                           --lists DIR

Needs python3-yaml (Debian; tools/setup.sh installs it).
"""
import argparse
import csv
import io
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

try:
    import yaml
except ImportError:
    sys.exit("python3-yaml is missing: run tools/setup.sh (apt-get install python3-yaml)")

ARGS = None


class FleetArtifactTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ARGS.artifact, encoding="utf-8") as f:
            cls.artifact = yaml.safe_load(f)
        with open(ARGS.with_lists, encoding="utf-8") as f:
            cls.with_lists = yaml.safe_load(f)
        cls.query = "\n".join(source["query"] for source in cls.artifact["sources"])
        cls.lists_query = "\n".join(source["query"] for source in cls.with_lists["sources"])
        with tempfile.TemporaryDirectory(prefix="tolvessa-fleet-") as directory:
            csv_path = os.path.join(directory, "drivers.csv")
            subprocess.run([ARGS.sample, "--csv", csv_path,
                            "--json", os.path.join(directory, "drivers.json"),
                            "--list", os.path.join(ARGS.lists, "drivers.csv")], check=True)
            with open(csv_path, encoding="utf-8", newline="") as f:
                cls.csv_text = f.read()
            with open(os.path.join(directory, "drivers.json"), encoding="utf-8") as f:
                cls.json_document = json.load(f)
        schema = os.path.join(os.path.dirname(os.path.abspath(ARGS.artifact)), os.pardir, "docs",
                              "tolvessa-export.schema.json")
        with open(schema, encoding="utf-8") as f:
            cls.schema = json.load(f)

    def test_has_what_the_engine_requires(self):
        for path, a in ((ARGS.artifact, self.artifact), (ARGS.with_lists, self.with_lists)):
            with self.subTest(artifact=path):
                self.assertIsInstance(a, dict)
                self.assertRegex(a["name"], r"^Windows(\.[A-Z][A-Za-z0-9]*)+$")
                self.assertEqual(a["name"], os.path.splitext(os.path.basename(path))[0])
                self.assertTrue(a["description"].strip())
                self.assertIn("windows", a["precondition"])
                self.assertTrue(a["sources"])
                for source in a["sources"]:
                    self.assertIsInstance(source["query"], str)
                    self.assertIn("SELECT", source["query"])
                for tool in a["tools"]:
                    self.assertRegex(tool["name"], r"^[A-Za-z0-9_]+$")
                    self.assertIs(tool["serve_locally"], True)
                for parameter in a["parameters"]:
                    self.assertRegex(parameter["name"], r"^[A-Za-z0-9_]+$")
                    self.assertIn(parameter.get("type", "string"),
                                  ("string", "bool", "int", "hidden"))
                # It runs a program (execve) and writes a temporary file (tempfile).
                self.assertEqual(a["implied_permissions"], ["EXECVE", "FILESYSTEM_WRITE"])
                self.assertEqual(set(a), {"name", "description", "author", "type", "tools",
                                          "precondition", "implied_permissions", "parameters",
                                          "sources"})
                # Every tool is one the server must have for a launch: the description says
                # which to upload.
                for tool in a["tools"]:
                    self.assertIn(tool["name"], a["description"])

    def test_fetches_its_own_tools_and_runs_the_json_export(self):
        for a, query in ((self.artifact, self.query), (self.with_lists, self.lists_query)):
            with self.subTest(artifact=a["name"]):
                tools = {tool["name"] for tool in a["tools"]}
                # Every tool the query fetches is declared, every declared tool is fetched.
                fetched = set(re.findall(r'ToolName="([A-Za-z0-9_]+)"', query))
                fetched |= set(re.findall(r'then="(Tolvessa_[A-Za-z0-9_]+)"', query))
                self.assertEqual(fetched, tools)
        self.assertEqual({tool["name"] for tool in self.artifact["tools"]},
                         {"Tolvessa_amd64", "Tolvessa_x86"})
        self.assertEqual({tool["name"] for tool in self.with_lists["tools"]},
                         {"Tolvessa_LOLDrivers", "Tolvessa_BlockRules"})
        self.assertIn("SELECT Architecture FROM info()", self.query)
        # The argv is one list: a tuple joined with the list arguments.
        self.assertRegex(self.query,
                         r'execve\(argv=\(OSPath, "-json", json_path\) \+ list_args')
        self.assertEqual(self.query.count('"-vulnlist"'), 2)
        self.assertIn('json_path <= tempfile(extension=".json")', self.query)
        self.assertIn("Export(Path=json_path)", self.query)
        self.assertIn("SELECT * FROM Artifact.%s(" % self.artifact["name"], self.lists_query)

    def test_every_parameter_the_queries_name_is_declared(self):
        declared = {p["name"] for p in self.artifact["parameters"]}
        for name in ("LOLDriversPath", "BlockRulesPath", "OnlyKnownVulnerable", "ToolInfo"):
            self.assertIn(name, declared)
            self.assertIn(name, self.query)
        lists_declared = {p["name"] for p in self.with_lists["parameters"]}
        for name in ("UseLOLDrivers", "UseBlockRules", "OnlyKnownVulnerable", "ToolInfo"):
            self.assertIn(name, lists_declared)
            self.assertIn(name, self.lists_query)
        # What the lists' artifact passes on, the program's artifact declares.
        call = self.lists_query[self.lists_query.index("Artifact.%s(" % self.artifact["name"]):]
        passed = set(re.findall(r"\b([A-Za-z0-9_]+)=", call))
        self.assertTrue(passed)
        self.assertLessEqual(passed - {"condition", "then", "else"}, declared)

    def test_takes_exactly_the_fields_of_the_export(self):
        # The columns come from the modules of the JSON export, one field each, in the export's
        # order; the matches as one text.
        select = self.query[self.query.index("LET ModuleRows(Modules)"):]
        select = select[:select.index("FROM scope()")]
        columns = re.findall(r"^\s*(?:([A-Za-z0-9]+)|KnownVulnerableText\(Matches=([A-Za-z0-9]+)\))"
                             r" AS ([A-Za-z0-9_]+),?$", select, re.MULTILINE)
        taken = [field or matches for field, matches, _ in columns]
        renamed = [name for _, _, name in columns]
        self.assertEqual(taken, list(self.json_document["modules"][0]))
        self.assertEqual(taken, self.schema["$defs"]["module"]["required"])
        self.assertEqual(list(self.schema["$defs"]["module"]["properties"]), taken)
        # Each column has a name of its own, one for each column of the CSV export.
        self.assertEqual(len(renamed), len(set(renamed)))
        header = next(csv.reader(io.StringIO(self.csv_text, newline="")))
        self.assertEqual(len(renamed), len(header))
        # Every module of the document is returned, whatever its texts hold.
        self.assertIn("parse_json(data=read_file(filename=Path, length=ExportLength))",
                      self.query)
        self.assertNotIn("parse_csv", self.query)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--artifact", required=True)
    parser.add_argument("--with-lists", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--lists", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
