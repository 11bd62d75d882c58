#!/usr/bin/env python3
"""The hand-over of a 32-bit run on 64-bit Windows to Tolvessa64.exe, end to end under Wine.

Where 32-bit programs run (a 64-bit Wine prefix is 64-bit Windows to them), the shipped
Tolvessa.exe is run beside Tolvessa64.exe and alone. Everywhere, the test build
(TolvessaTestable.exe, of either build) is told by TOLVESSA_HAND_OVER_AS_WOW64=1 to take itself
for a 32-bit process on 64-bit Windows, so the hand-over itself (finding the program, the
command line, the wait, the exit code) runs even where no 32-bit program can. Its own module
table is then a missing recording (TOLVESSA_MODULE_TABLE): what it would report itself is "no
table", exit code 1 or 3, while Tolvessa64.exe reports Wine's three modules.

    hand_over_e2e.py --testable TolvessaTestable.exe --exe64 Tolvessa64.exe [--exe32 Tolvessa.exe]
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402

ARGS = None
WINE_BASES = wine_run.WINE_KERNEL_BASES


def bases_of(lines):
    return [line[len("Base Address: "):] for line in lines if line.startswith("Base Address: ")]


class HandOverTest(wine_run.FolderTest):
    FOLDER_PREFIX = "tolvessa-hand-over-"

    def setUp(self):
        super().setUp()
        # A folder name with blanks: the other program's path goes out quoted.
        self.dir = os.path.join(self.tmp.name, "Corvane Tools")
        os.makedirs(self.dir)
        self.reports = os.path.join(self.tmp.name, "My Reports")
        os.makedirs(self.reports)

    def place(self, exe, name=None):
        target = os.path.join(self.dir, name or os.path.basename(exe))
        shutil.copy(exe, target)
        return target

    def run_program(self, exe, args, env_extra=None):
        env = dict(os.environ)
        env.update(env_extra or {})
        return wine_run.run_exe(exe, args, cwd=self.dir, env=env, timeout=180)

    def claimed_wow64(self):
        missing = os.path.join(self.tmp.name, "no-such-table.bin")
        return {"TOLVESSA_HAND_OVER_AS_WOW64": "1",
                "TOLVESSA_MODULE_TABLE": wine_run.windows_path(missing)}

    def report(self, name):
        return os.path.join(self.reports, name)

    def assert_sixty_four_bit_report(self, path):
        lines = wine_run.read_report(path)
        self.assertEqual(bases_of(lines), ["0x%016X" % b for b in WINE_BASES], lines)
        self.assertIn("Image Name: C:\\windows\\system32\\drivers\\mountmgr.sys", lines)

    # The test build, taking itself for a 32-bit process on 64-bit Windows -----------------

    def test_the_other_program_writes_the_report_and_its_exit_code_is_the_run_s(self):
        testable = self.place(ARGS.testable)
        self.place(ARGS.exe64, "Tolvessa64.exe")
        out = self.report("drivers today.log")
        code = self.run_program(testable, ["-log", wine_run.windows_path(out)],
                                self.claimed_wow64())
        self.assertEqual(code, 0)
        self.assert_sixty_four_bit_report(out)

    def test_every_argument_reaches_the_other_program(self):
        testable = self.place(ARGS.testable)
        self.place(ARGS.exe64, "Tolvessa64.exe")
        first, second = self.report("a b.log"), self.report("c.log")
        # Two rounds, one path with a blank (Wine puts quotes around it).
        code = self.run_program(testable, ["-log", wine_run.windows_path(first), "-log",
                                           wine_run.windows_path(second)],
                                self.claimed_wow64())
        self.assertEqual(code, 0)
        self.assert_sixty_four_bit_report(first)
        self.assertEqual(bases_of(wine_run.read_report(second)),
                         ["0x%016X" % b for b in WINE_BASES] * 2)

    def run_line(self, exe, rest, env_extra):
        """Runs the program with a command line of its name in quotes, then `rest` exactly as
        written (Wine would quote each argument its own way): the line of a batch file, which
        cmd passes on as it stands. Returns the program's exit code."""
        bat = os.path.join(self.tmp.name, "run.bat")
        with open(bat, "w", newline="") as f:
            f.write('@"%s"%s\r\n@exit /b %%errorlevel%%\r\n' % (wine_run.windows_path(exe), rest))
        env = dict(os.environ)
        env.update(env_extra)
        return wine_run.run_exe("cmd", ["/c", wine_run.windows_path(bat)], cwd=self.dir, env=env,
                                timeout=180)

    def test_odd_quoting_reaches_the_other_program_as_written(self):
        testable = self.place(ARGS.testable)
        self.place(ARGS.exe64, "Tolvessa64.exe")
        top, reports = wine_run.windows_path(self.tmp.name), wine_run.windows_path(self.reports)
        # A quoted option, a tab, blanks quoted in the middle of a path, several blanks, and a
        # whole path in quotes: the reader makes "-log", "...\My Reports\odd one.log", "-log",
        # "...\My Reports\two.log" of it.
        rest = ('  "-log"\t' + top + '\\My" "Reports\\odd" "one.log   -log  "' + reports +
                '\\two.log"\t')
        self.assertEqual(self.run_line(testable, rest, self.claimed_wow64()), 0)
        self.assertEqual(sorted(os.listdir(self.reports)), ["odd one.log", "two.log"])
        self.assert_sixty_four_bit_report(self.report("odd one.log"))
        self.assertEqual(bases_of(wine_run.read_report(self.report("two.log"))),
                         ["0x%016X" % b for b in WINE_BASES] * 2)
        # The other program's exit code comes back the same way: 2 for a report it cannot write.
        rest = ' -log "' + reports + '\\no such\\x.log"'
        self.assertEqual(self.run_line(testable, rest, self.claimed_wow64()), 2)

    def test_a_failing_run_of_the_other_program_gives_its_exit_code(self):
        testable = self.place(ARGS.testable)
        self.place(ARGS.exe64, "Tolvessa64.exe")
        unwritable = os.path.join(self.reports, "no", "such", "x.log")
        # The other program reads the table but cannot write: 2. This one alone would give 3.
        code = self.run_program(testable, ["-log", wine_run.windows_path(unwritable)],
                                self.claimed_wow64())
        self.assertEqual(code, 2)
        self.assertFalse(os.path.exists(unwritable))

    def test_alone_it_does_the_work_itself(self):
        testable = self.place(ARGS.testable)
        out = self.report("alone.log")
        code = self.run_program(testable, ["-log", wine_run.windows_path(out)],
                                self.claimed_wow64())
        # Its own run: the recorded table is missing, so no rows and no report.
        self.assertEqual(code, 3)
        self.assertFalse(os.path.exists(out))

    def test_without_wow64_it_does_not_hand_over(self):
        testable = self.place(ARGS.testable)
        self.place(ARGS.exe64, "Tolvessa64.exe")
        out = self.report("own.log")
        missing = os.path.join(self.tmp.name, "no-such-table.bin")
        code = self.run_program(testable, ["-log", wine_run.windows_path(out)],
                                {"TOLVESSA_MODULE_TABLE": wine_run.windows_path(missing)})
        self.assertEqual(code, 3)
        self.assertFalse(os.path.exists(out))

    def test_the_64_bit_program_never_hands_over(self):
        # Beside itself, named as it ships: it writes its own report.
        exe64 = self.place(ARGS.exe64, "Tolvessa64.exe")
        out = self.report("self.log")
        self.assertEqual(self.run_program(exe64, ["-log", wine_run.windows_path(out)]), 0)
        self.assert_sixty_four_bit_report(out)

    # The shipped 32-bit program, where 32-bit programs run --------------------------------

    def needs_32_bit(self):
        if not ARGS.exe32:
            self.skipTest("no 32-bit program given")
        if os.environ.get("TOLVESSA_WINE32") == "0":
            self.skipTest("this machine cannot run 32-bit programs")

    def test_32_bit_program_beside_the_64_bit_one_hands_over(self):
        self.needs_32_bit()
        exe32 = self.place(ARGS.exe32, "Tolvessa.exe")
        self.place(ARGS.exe64, "Tolvessa64.exe")
        out = self.report("handed over.log")
        self.assertEqual(self.run_program(exe32, ["-log", wine_run.windows_path(out)]), 0)
        self.assert_sixty_four_bit_report(out)
        unwritable = os.path.join(self.reports, "no", "such", "x.log")
        self.assertEqual(self.run_program(exe32, ["-log", wine_run.windows_path(unwritable)]), 2)

    def test_32_bit_program_alone_writes_its_own_report(self):
        self.needs_32_bit()
        exe32 = self.place(ARGS.exe32, "Tolvessa.exe")
        out = self.report("own.log")
        self.assertEqual(self.run_program(exe32, ["-log", wine_run.windows_path(out)]), 0)
        self.assertEqual(bases_of(wine_run.read_report(out)), ["0x%08X" % b for b in WINE_BASES])


def main():
    global ARGS
    ARGS, rest = wine_run.test_options("--testable", "--exe64", optional=["--exe32"])
    wine_run.run_tests(rest)


if __name__ == "__main__":
    main()
