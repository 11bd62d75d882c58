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
# The columns of a collection, each from its field of a module in the JSON export.
COLUMNS = ["LoadOrder", "ImageName", "BaseAddress", "ImageSize", "Publisher", "Description",
           "Version", "MD5", "Hidden", "Exists", "SHA1", "SHA256", "PESHA1", "PESHA256",
           "Imphash", "Signature", "Signer", "Catalog", "KnownVulnerable"]
FIELDS = ["loadOrder", "imageName", "baseAddress", "imageSize", "publisher", "description",
          "version", "md5", "hidden", "exists", "sha1", "sha256", "peSha1", "peSha256",
          "imphash", "signature", "signer", "catalog", "knownVulnerable"]
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
        cls.json_path = os.path.join(cls.directory.name, "drivers.json")
        subprocess.run([ARGS.sample, "--csv", cls.csv_path, "--json", cls.json_path,
                        "--list", os.path.join(ARGS.lists, "drivers.csv")], check=True)
        with open(cls.csv_path, encoding="utf-8", newline="") as f:
            cls.csv_rows = list(csv.DictReader(f))
        with open(cls.json_path, encoding="utf-8") as f:
            cls.json_document = json.load(f)
        cls.json_modules = cls.json_document["modules"]

    @classmethod
    def tearDownClass(cls):
        cls.directory.cleanup()

    def check(self, *paths):
        return subprocess.run([self.vqlcheck, *paths], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)

    def collect(self, name=MAIN, parameters=None, architecture="amd64", tools=None,
                return_code=0, stderr="", json_path=None, csv_path=None, artifacts=None):
        case = {"artifacts": artifacts or self.artifacts, "collect": name, "parameters": parameters or {},
                "architecture": architecture,
                "tools": ALL_TOOLS if tools is None else tools, "return_code": return_code,
                "stderr": stderr, "csv": csv_path or self.csv_path,
                "json": json_path or self.json_path}
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
                self.assertEqual(argv[:2], [EXE64, "-json"])
                self.assertTrue(argv[2].endswith(".json"), argv)
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

    def check_rows(self, rows, modules, known_vulnerable):
        # Every column as the JSON export holds it (the load order its number, the hashes and
        # the version their text, "Hidden" and "Exists" its booleans or null), and "Known
        # Vulnerable" as the text of the CSV export's cell.
        self.assertEqual(len(rows), len(modules))
        for row, module, text in zip(rows, modules, known_vulnerable):
            self.assertEqual(list(row), COLUMNS)
            for column, field in zip(COLUMNS, FIELDS):
                if field == "knownVulnerable":
                    self.assertEqual(row[column], text, row["ImageName"])
                else:
                    self.assertEqual(row[column], module[field], (row["ImageName"], column))

    def test_rows_take_every_column_and_type_the_flags(self):
        out = self.collect()
        self.assertEqual(len(out["rows"]), len(self.csv_rows))
        self.check_rows(out["rows"], self.json_modules,
                        [cells["Known Vulnerable"] for cells in self.csv_rows])
        self.assertEqual(self.errors(out), [])
        self.assertEqual({row["Hidden"] for row in out["rows"]} |
                         {row["Exists"] for row in out["rows"]}, {True, False, None})
        self.assertIn("0" * 32, [row["MD5"] for row in out["rows"]])
        # An entry matched several ways, a module on no list.
        texts = [row["KnownVulnerable"] for row in out["rows"]]
        self.assertTrue(any(t.startswith("LOLDrivers ") and ", " in t for t in texts), texts)
        self.assertIn("", texts)
        # A text its file's author made look like a formula comes back as the file has it.
        self.assertIn('=HYPERLINK("http://acme.example","Acme")',
                      [row["Description"] for row in out["rows"]])

    def test_known_vulnerable_is_the_csv_exports_text(self):
        # The matches of the JSON export put as the CSV export's cell puts them: one entry per
        # list entry in the order found, each way it matched once.
        def lol(entry, category, matched):
            return {"source": "drivers.csv", "list": "LOLDrivers", "id": entry,
                    "category": category, "matched": matched}

        def rule(entry, matched, source="SiPolicy.xml"):
            return {"source": source, "list": "SiPolicy", "id": entry, "category": None,
                    "matched": matched}

        cases = (
            ([], ""),
            ([lol("id-1", "vulnerable driver", "image hash SHA-256")],
             "LOLDrivers id-1 (vulnerable driver): image hash SHA-256"),
            ([lol("id-1", "malicious", "file hash MD5"), lol("id-1", "malicious", "file hash SHA-1"),
              lol("id-1", "malicious", "image hash SHA-1")],
             "LOLDrivers id-1 (malicious): file hash MD5, file hash SHA-1, image hash SHA-1"),
            ([lol("id-2", "vulnerable driver", "file hash SHA-256"),
              rule("ID_DENY_X", "name and version"),
              lol("id-2", "vulnerable driver", "image hash SHA-256")],
             "LOLDrivers id-2 (vulnerable driver): file hash SHA-256, image hash SHA-256; "
             "SiPolicy ID_DENY_X: name and version"),
            ([rule("R", "image hash SHA-1"), rule("R", "image hash SHA-1")],
             "SiPolicy R: image hash SHA-1"),
            ([lol("id-3", "", "file hash SHA-256")], "LOLDrivers id-3: file hash SHA-256"),
            # One rule ID in two policies: two entries.
            ([rule("R", "image hash SHA-1"), rule("R", "image hash SHA-256", "Other.xml")],
             "SiPolicy R: image hash SHA-1; SiPolicy R: image hash SHA-256"),
        )
        modules = []
        for i, (matches, _) in enumerate(cases):
            module = dict(self.json_modules[i % len(self.json_modules)], knownVulnerable=matches)
            modules.append(module)
        path = os.path.join(self.directory.name, "matches.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(dict(self.json_document, modules=modules), f)
        out = self.collect(json_path=path)
        self.assertEqual([row["KnownVulnerable"] for row in out["rows"]],
                         [text for _, text in cases])

    def test_no_driver_text_hides_a_row(self):
        # Texts a driver's author controls that the client's CSV reader takes for JSON (and
        # stops at) or for a number: every module comes back, each text exactly.
        modules = [dict(module) for module in self.json_modules]
        modules[0]["version"] = "1.10"
        modules[1]["description"] = "[not json"
        modules[2]["publisher"] = "{x"
        modules[3]["version"] = "10"
        modules[4]["description"] = '{"a": 1}'
        json_path = os.path.join(self.directory.name, "hostile.json")
        with open(json_path, "w", encoding="utf-8") as f:
            json.dump(dict(self.json_document, modules=modules), f, indent=2)
        # The CSV export of the same modules, for an artifact that would read that instead.
        csv_path = os.path.join(self.directory.name, "hostile.csv")
        header = list(self.csv_rows[0])
        with open(csv_path, "w", encoding="utf-8", newline="") as f:
            writer = csv.writer(f, lineterminator="\r\n")
            writer.writerow(header)
            for cells, module in zip(self.csv_rows, modules):
                cells = dict(cells, Version=module["version"], Description=module["description"],
                             Publisher=module["publisher"])
                writer.writerow([cells[name] for name in header])
        out = self.collect(json_path=json_path, csv_path=csv_path)
        self.check_rows(out["rows"], modules,
                        [cells["Known Vulnerable"] for cells in self.csv_rows])
        self.assertEqual(self.errors(out), [])
        # The client's CSV reader over the same modules stops at the first such text, with no
        # error: the modules after it would be missing.
        reader = os.path.join(self.directory.name, "Windows.Read.Csv.yaml")
        with open(reader, "w", encoding="utf-8") as f:
            f.write("name: Windows.Read.Csv\nsources:\n  - query: |\n"
                    "      LET path <= tempfile(extension=\".csv\")\n"
                    "      SELECT * FROM foreach(row={\n"
                    "          SELECT * FROM execve(argv=[\"program\", \"-csv\", path])\n"
                    "      }, query={ SELECT * FROM parse_csv(filename=path) })\n")
        out = self.collect("Windows.Read.Csv", csv_path=csv_path, artifacts=[reader])
        self.assertEqual(len(out["rows"]), 1)
        self.assertEqual(out["rows"][0]["Version"], 1.1)
        self.assertEqual(self.errors(out), [])

    def test_an_export_that_is_not_json_is_an_error(self):
        with open(self.json_path, encoding="utf-8") as f:
            text = f.read()
        for name, content in (("cut", text[:len(text) // 2]), ("empty", ""),
                              ("array", "[]")):
            with self.subTest(export=name):
                path = os.path.join(self.directory.name, name + ".json")
                with open(path, "w", encoding="utf-8") as f:
                    f.write(content)
                out = self.collect(json_path=path)
                self.assertEqual(out["rows"], [])
                self.assertEqual(len(self.errors(out)), 1, out["logs"])
                self.assertRegex(self.errors(out)[0],
                                 r"^Tolvessa's JSON export .*\.json could not be read$")

    def test_reads_an_export_beyond_the_default_length(self):
        # read_file reads 4 MiB unless told more: an export longer than that is read whole.
        modules = [dict(module, description="%d " % i + "x" * 700000)
                   for i, module in enumerate(self.json_modules + self.json_modules)]
        path = os.path.join(self.directory.name, "long.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(dict(self.json_document, modules=modules), f)
        self.assertGreater(os.path.getsize(path), 4 * 1024 * 1024 + 1024 * 1024)
        out = self.collect(json_path=path)
        self.assertEqual(self.errors(out), [])
        self.assertEqual([row["Description"] for row in out["rows"]],
                         [module["description"] for module in modules])

    def test_an_export_without_modules_is_no_error(self):
        path = os.path.join(self.directory.name, "none.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(dict(self.json_document, modules=[]), f)
        out = self.collect(json_path=path)
        self.assertEqual(out["rows"], [])
        self.assertEqual(self.errors(out), [])

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
