#!/usr/bin/env python3
"""The fleet engine's artifact (integrations/Windows.Corvane.Tolvessa.yaml) against what the
engine requires of an artifact and against the CSV export it reads: the YAML parses, has a
dotted name, sources with queries, the tools and parameters its query names, and the CSV
columns the query takes are exactly the export's header, in order. The engine itself does not
run here: its query language is only checked for the names it uses.

    fleet_artifact_test.py --artifact YAML --sample tolvessa_export_sample --lists DIR

Needs python3-yaml (Debian; tools/setup.sh installs it).
"""
import argparse
import csv
import io
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
        cls.query = "\n".join(source["query"] for source in cls.artifact["sources"])
        with tempfile.TemporaryDirectory(prefix="tolvessa-fleet-") as directory:
            csv_path = os.path.join(directory, "drivers.csv")
            subprocess.run([ARGS.sample, "--csv", csv_path,
                            "--json", os.path.join(directory, "drivers.json"),
                            "--list", os.path.join(ARGS.lists, "drivers.csv")], check=True)
            with open(csv_path, encoding="utf-8", newline="") as f:
                cls.csv_text = f.read()

    def test_has_what_the_engine_requires(self):
        a = self.artifact
        self.assertIsInstance(a, dict)
        self.assertRegex(a["name"], r"^Windows(\.[A-Z][A-Za-z0-9]*)+$")
        self.assertEqual(a["name"], os.path.splitext(os.path.basename(ARGS.artifact))[0])
        self.assertTrue(a["description"].strip())
        self.assertIn("windows", a["precondition"])
        self.assertTrue(a["sources"])
        for source in a["sources"]:
            self.assertIsInstance(source["query"], str)
            self.assertIn("SELECT", source["query"])
        for tool in a["tools"]:
            self.assertRegex(tool["name"], r"^[A-Za-z0-9_]+$")
        for parameter in a["parameters"]:
            self.assertRegex(parameter["name"], r"^[A-Za-z0-9_]+$")
            self.assertIn(parameter.get("type", "string"), ("string", "bool", "int", "hidden"))
        self.assertEqual(set(a), {"name", "description", "author", "type", "tools",
                                  "precondition", "parameters", "sources"})

    def test_picks_the_build_by_architecture_and_runs_the_csv_export(self):
        tools = {tool["name"] for tool in self.artifact["tools"]}
        self.assertTrue({"Tolvessa_amd64", "Tolvessa_x86"} <= tools)
        self.assertIn("SELECT Architecture FROM info()", self.query)
        self.assertRegex(self.query, r'Architecture = "amd64",\s*then="Tolvessa_amd64", '
                                     r'else="Tolvessa_x86"')
        # Every tool the query fetches is declared, every declared tool is fetched.
        fetched = set(re.findall(r'ToolName="([A-Za-z0-9_]+)"', self.query))
        fetched |= set(re.findall(r'then="(Tolvessa_[A-Za-z0-9_]+)"', self.query))
        fetched |= set(re.findall(r'else="(Tolvessa_[A-Za-z0-9_]+)"', self.query))
        self.assertEqual(fetched, tools)
        self.assertRegex(self.query, r'execve\(\s*argv=\[bin\[0\]\.OSPath, "-csv", csv_path\]')
        self.assertEqual(self.query.count('"-vulnlist"'), 2)
        self.assertIn("parse_csv(filename=csv_path)", self.query)
        self.assertIn("tempfile(", self.query)

    def test_every_parameter_the_query_names_is_declared(self):
        declared = {p["name"] for p in self.artifact["parameters"]}
        for name in ("UseLOLDrivers", "UseBlockRules", "OnlyKnownVulnerable", "ToolInfo"):
            self.assertIn(name, declared)
            self.assertIn(name, self.query)

    def test_takes_exactly_the_columns_of_the_export(self):
        header = next(csv.reader(io.StringIO(self.csv_text, newline="")))
        taken = re.findall(r'get\(field="([^"]+)"\)', self.query)
        self.assertEqual(taken, header)
        # Each column has a name of its own in the result.
        renamed = re.findall(r'get\(field="[^"]+"\) AS ([A-Za-z0-9_]+)', self.query)
        self.assertEqual(len(renamed), len(set(renamed)))
        self.assertEqual(len(renamed), len(header))
        # parse_csv gives one row per record with the header's names: so does DictReader.
        for row in csv.DictReader(io.StringIO(self.csv_text, newline="")):
            self.assertEqual(list(row), taken)
            self.assertNotIn(None, row.values())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--artifact", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--lists", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
