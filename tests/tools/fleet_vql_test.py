#!/usr/bin/env python3
"""The fleet engine's artifacts (integrations/*.yaml) through the engine's own VQL: every query
parses with its parser (vqlcheck, the engine's vfilter library), and so do the reference
artifacts of the engine beside it, so a checker that rejects nothing or everything is caught;
then the artifacts are collected with the engine's evaluator over stand-ins for the client's
plugins (tolvessa_vqlrun): the build picked by architecture, the program's argv, the
exit code's flags logged as errors, the rows and their types.

    fleet_vql_test.py --integrations DIR --vql-check DIR --go-src DIR --build-dir DIR
                      --sample tolvessa_export_sample --lists DIR

Needs Debian's Go 1.19 (golang-1.19-go; tools/setup.sh installs it): without it the test fails.
The two Go programs are built into --build-dir once, again only when a source is newer.
"""
import argparse
import csv
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
MAIN = "Windows.Corvane.Tolvessa"
WITH_LISTS = "Windows.Corvane.Tolvessa.WithLists"
EXE64 = "C:\\Velociraptor\\Tools\\Tolvessa64.exe"
EXE32 = "C:\\Velociraptor\\Tools\\Tolvessa.exe"
LOL = "C:\\Velociraptor\\Tools\\drivers.csv"
BLOCK = "C:\\Velociraptor\\Tools\\SiPolicy.xml"
ALL_TOOLS = {"Tolvessa_amd64": EXE64, "Tolvessa_x86": EXE32, "Tolvessa_LOLDrivers": LOL,
             "Tolvessa_BlockRules": BLOCK}


def find_go():
    for candidate in ("/usr/lib/go-1.19/bin/go", shutil.which("go")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def newest_source(folder):
    newest = 0.0
    for root, _, files in os.walk(folder):
        for name in files:
            newest = max(newest, os.path.getmtime(os.path.join(root, name)))
    return newest


def build_if_stale(output, sources, command, env):
    if os.path.exists(output) and os.path.getmtime(output) >= max(newest_source(s) for s in sources):
        return
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    if result.returncode != 0:
        raise RuntimeError("building %s failed:\n%s" % (output, result.stdout))


class FleetVqlTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        go = find_go()
        if go is None:
            raise RuntimeError("Go is missing: run tools/setup.sh (apt-get install golang-1.19-go)")
        os.makedirs(ARGS.build_dir, exist_ok=True)
        env = dict(os.environ, GO111MODULE="off", GOFLAGS="",
                   GOCACHE=os.path.join(ARGS.build_dir, "gocache"), PATH=os.path.dirname(go) +
                   os.pathsep + os.environ.get("PATH", ""))
        cls.vqlcheck = os.path.join(ARGS.build_dir, "vqlcheck")
        build_if_stale(cls.vqlcheck, [ARGS.vql_check],
                       ["sh", os.path.join(ARGS.vql_check, "build.sh"), cls.vqlcheck], env)
        cls.vqlrun = os.path.join(ARGS.build_dir, "tolvessa_vqlrun")
        build_if_stale(cls.vqlrun, [ARGS.vql_check, ARGS.go_src],
                       [go, "build", "-o", cls.vqlrun, "tolvessa_vqlrun"],
                       dict(env, GOPATH=ARGS.go_src + os.pathsep + ARGS.vql_check))

        cls.artifacts = sorted(glob.glob(os.path.join(ARGS.integrations, "*.yaml")))
        cls.references = sorted(glob.glob(os.path.join(ARGS.vql_check, "reference-artifacts",
                                                       "*.yaml")))
        cls.directory = tempfile.TemporaryDirectory(prefix="tolvessa-fleet-vql-")
        cls.csv_path = os.path.join(cls.directory.name, "drivers.csv")
        json_path = os.path.join(cls.directory.name, "drivers.json")
        subprocess.run([ARGS.sample, "--csv", cls.csv_path, "--json", json_path,
                        "--list", os.path.join(ARGS.lists, "drivers.csv")], check=True)
        with open(cls.csv_path, encoding="utf-8", newline="") as f:
            cls.csv_rows = list(csv.DictReader(f))
        with open(json_path, encoding="utf-8") as f:
            cls.json_modules = json.load(f)["modules"]

    @classmethod
    def tearDownClass(cls):
        cls.directory.cleanup()

    def check(self, *paths):
        return subprocess.run([self.vqlcheck, *paths], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)

    def collect(self, name=MAIN, parameters=None, architecture="amd64", tools=None,
                return_code=0, stderr=""):
        case = {"artifacts": self.artifacts, "collect": name, "parameters": parameters or {},
                "architecture": architecture,
                "tools": ALL_TOOLS if tools is None else tools, "return_code": return_code,
                "stderr": stderr, "csv": self.csv_path}
        case_path = os.path.join(self.directory.name, "case.json")
        with open(case_path, "w", encoding="utf-8") as f:
            json.dump(case, f)
        result = subprocess.run([self.vqlrun, case_path], stdout=subprocess.PIPE, check=True)
        out = json.loads(result.stdout)
        for key in ("rows", "logs", "runs", "fetched", "engine"):
            out[key] = out[key] or []
        # Whatever the case, the evaluator found every plugin, function and argument.
        self.assertEqual(out["engine"], [])
        return out

    def errors(self, out):
        return [entry["message"] for entry in out["logs"] if entry["level"] == "ERROR"]

    def test_every_artifact_and_every_reference_parses(self):
        self.assertEqual(len(self.references), 4)
        self.assertTrue(any(path.endswith(MAIN + ".yaml") for path in self.artifacts))
        self.assertTrue(any(path.endswith(WITH_LISTS + ".yaml") for path in self.artifacts))
        result = self.check(*self.references, *self.artifacts)
        self.assertEqual(result.returncode, 0, result.stdout)
        for path in self.references + self.artifacts:
            self.assertIn(path + ": ", result.stdout)
        self.assertNotIn("query:", result.stdout)

    def test_the_checker_refuses_a_query_that_does_not_parse(self):
        # A list literal joined with "+" inside an argument: no VQL.
        path = os.path.join(self.directory.name, "Windows.Broken.yaml")
        with open(path, "w", encoding="utf-8") as f:
            f.write("name: Windows.Broken\nsources:\n  - query: |\n"
                    "      LET rest <= (\"b\", \"c\")\n"
                    "      SELECT * FROM execve(argv=[\"a\"] + rest)\n")
        result = self.check(path)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("source 0 query: 2:", result.stdout)

    def test_picks_the_build_by_architecture(self):
        for architecture, tool, exe in (("amd64", "Tolvessa_amd64", EXE64),
                                        ("wow64", "Tolvessa_amd64", EXE64),
                                        ("386", "Tolvessa_x86", EXE32)):
            with self.subTest(architecture=architecture):
                out = self.collect(architecture=architecture)
                self.assertEqual(out["fetched"], [tool])
                self.assertEqual(len(out["runs"]), 1)
                self.assertEqual(out["runs"][0][0], exe)
                self.assertEqual(len(out["rows"]), len(self.csv_rows))
                self.assertEqual(self.errors(out), [])

    def test_skips_any_other_architecture_with_a_log(self):
        out = self.collect(architecture="arm64")
        self.assertEqual(out["fetched"], [])
        self.assertEqual(out["runs"], [])
        self.assertEqual(out["rows"], [])
        self.assertEqual(self.errors(out), [])
        self.assertTrue(any("arm64" in entry["message"] for entry in out["logs"]), out["logs"])

    def test_runs_nothing_when_the_program_was_not_fetched(self):
        out = self.collect(tools={"Tolvessa_x86": EXE32})
        self.assertEqual(out["runs"], [])
        self.assertEqual(out["rows"], [])
        self.assertEqual(self.errors(out), ["tool Tolvessa_amd64 not available!"])

    def test_the_arguments_of_the_run(self):
        cases = (
            (MAIN, {}, []),
            (MAIN, {"LOLDriversPath": LOL}, ["-vulnlist", LOL]),
            (MAIN, {"LOLDriversPath": LOL, "BlockRulesPath": BLOCK},
             ["-vulnlist", LOL, "-vulnlist", BLOCK]),
            (WITH_LISTS, {}, ["-vulnlist", LOL, "-vulnlist", BLOCK]),
            (WITH_LISTS, {"UseLOLDrivers": "N"}, ["-vulnlist", BLOCK]),
            (WITH_LISTS, {"UseBlockRules": "N"}, ["-vulnlist", LOL]),
            (WITH_LISTS, {"UseLOLDrivers": "N", "UseBlockRules": "N"}, []),
        )
        for name, parameters, lists in cases:
            with self.subTest(name=name, parameters=parameters):
                out = self.collect(name, parameters)
                self.assertEqual(len(out["runs"]), 1)
                argv = out["runs"][0]
                self.assertEqual(argv[:2], [EXE64, "-csv"])
                self.assertTrue(argv[2].endswith(".csv"), argv)
                self.assertEqual(argv[3:], lists)
                self.assertEqual(self.errors(out), [])
                fetched = ["Tolvessa_amd64"]
                if name == WITH_LISTS:
                    fetched = [tool for tool, path in (("Tolvessa_LOLDrivers", LOL),
                                                       ("Tolvessa_BlockRules", BLOCK))
                               if path in lists] + fetched
                self.assertEqual(out["fetched"], fetched)

    def test_a_list_that_was_not_fetched_is_an_error_and_left_out(self):
        tools = dict(ALL_TOOLS)
        del tools["Tolvessa_LOLDrivers"]
        out = self.collect(WITH_LISTS, tools=tools)
        self.assertEqual(self.errors(out), ["tool Tolvessa_LOLDrivers not available!"])
        self.assertEqual(out["runs"][0][3:], ["-vulnlist", BLOCK])
        self.assertEqual(len(out["rows"]), len(self.csv_rows))

    def test_exit_codes_with_flags_1_2_or_8_are_errors(self):
        for code in range(16):
            with self.subTest(code=code):
                out = self.collect(return_code=code, stderr="text of standard error")
                message = "Tolvessa exited with %d: text of standard error" % code
                levels = [entry["level"] for entry in out["logs"] if entry["message"] == message]
                self.assertEqual(levels, ["ERROR" if code & (1 | 2 | 8) else "DEFAULT"])

    def test_rows_take_every_column_and_type_the_flags(self):
        # The client's parse_csv types the cells it reads (decimal digits as numbers, "true" and
        # "false" as booleans): the load order comes as the JSON export's number, the hashes
        # as its text (the all-zero MD5 of the file held open included), "Hidden" and
        # "Exists" as its booleans, null for the empty cell of a missing file.
        typed = {"LoadOrder": "loadOrder", "MD5": "md5", "SHA1": "sha1", "SHA256": "sha256",
                 "PESHA1": "peSha1", "PESHA256": "peSha256", "Imphash": "imphash",
                 "Hidden": "hidden", "Exists": "exists"}
        # The other columns as the CSV holds them (none of the sample's is read as a number;
        # the client's reader, Go's, gives a CR LF inside a quoted cell as LF).
        text = {"ImageName": "Image Name", "BaseAddress": "Base Address",
                "ImageSize": "Image Size", "Publisher": "Publisher",
                "Description": "Description", "Version": "Version", "Signature": "Signature",
                "Signer": "Signer", "Catalog": "Catalog", "KnownVulnerable": "Known Vulnerable"}
        out = self.collect()
        self.assertEqual(len(out["rows"]), len(self.csv_rows))
        self.assertEqual(len(out["rows"]), len(self.json_modules))
        self.assertEqual(list(out["rows"][0]), [
            "LoadOrder", "ImageName", "BaseAddress", "ImageSize", "Publisher", "Description",
            "Version", "MD5", "Hidden", "Exists", "SHA1", "SHA256", "PESHA1", "PESHA256",
            "Imphash", "Signature", "Signer", "Catalog", "KnownVulnerable"])
        flags = set()
        for row, cells, module in zip(out["rows"], self.csv_rows, self.json_modules):
            for column, field in typed.items():
                self.assertEqual(row[column], module[field], column)
            for column, header in text.items():
                self.assertEqual(row[column], cells[header].replace("\r\n", "\n"), column)
            flags |= {row["Hidden"], row["Exists"]}
        self.assertEqual(flags, {True, False, None})
        self.assertIn("0" * 32, [row["MD5"] for row in out["rows"]])

    def test_only_known_vulnerable(self):
        listed = [cells["Image Name"] for cells in self.csv_rows if cells["Known Vulnerable"]]
        self.assertTrue(0 < len(listed) < len(self.csv_rows))
        for name in (MAIN, WITH_LISTS):
            with self.subTest(name=name):
                out = self.collect(name, {"OnlyKnownVulnerable": "Y"}, return_code=4)
                self.assertEqual([row["ImageName"] for row in out["rows"]], listed)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--integrations", "--vql-check", "--go-src", "--build-dir", "--sample",
                   "--lists"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
