"""End to end under Wine: "Verify File Signature" shows its boxes through MessageBoxW.

For each case the probe program (tests/win32/trust_box) runs the command on a signed test image
and reports what its box shows; the box is found on the X display by the application title and
closed with the Enter key, as a user would.
"""
import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_run  # noqa: E402
from wine_run import windows_path  # noqa: E402

CASES = [
    # (argument, box text, icon); None for the argument of a row that is not selected.
    ("signed_32.exe", "File is signed by Tolvessa Test Signer", "information"),
    ("no_cn_64.exe", "File is signed by Corvane Test Organisation", "information"),
    ("unsigned_32.exe", "File is not digitally signed.", "information"),
    ("tampered_64.exe", "File is not digitally signed.", "information"),
    ("two_entries_32.exe", "File is signed by ", "information"),
    ("no_such_image.exe", "Cannot find the file on disk.", "warning"),
]


def settle():
    """Waits until no box is left on the display, then a moment more: the release of the Enter
    key that closed one box must not reach the next one."""
    end = time.time() + 10
    while wine_run.message_boxes() and time.time() < end:
        time.sleep(0.1)
    time.sleep(1.5)


def run_case(probe, argument, timeout=60):
    """Starts the probe; closes its box through X; returns (probe output, whether a box was
    found on the display)."""
    proc = subprocess.Popen([wine_run.WINE, probe, argument], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    found = False
    end = time.time() + timeout
    try:
        while time.time() < end and proc.poll() is None:
            ids = wine_run.message_boxes()
            if ids:
                found = True
                time.sleep(0.5)  # let the probe read the box first
                wine_run.press_return(ids)
                break
            time.sleep(0.2)
        out, _ = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return out, found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--images", required=True)
    args = parser.parse_args()
    failures = []

    settle()  # nothing of an earlier test on the display, no key of it still on its way
    for name, text, icon in CASES:
        out, found = run_case(args.probe, windows_path(os.path.join(args.images, name)))
        if not found and "box text=[] icon=none" in out:
            # The box was gone before it could be read or seen on the display, closed by no
            # key of this case (a key event of an earlier one arriving late): run it once more.
            print(f"{name}: the box was closed before it was read; once more")
            settle()
            out, found = run_case(args.probe, windows_path(os.path.join(args.images, name)))
        box = re.search(r"^box text=\[(.*)\] icon=(\w+) topmost=(\d) owned=(\d) foreground=(\d)$",
                        out, re.M)
        problems = []
        if not found:
            problems.append("no box with the application title on the display")
        if not box:
            problems.append("the probe saw no box")
        else:
            if box.group(1) != text:
                problems.append(f"text {box.group(1)!r}, wanted {text!r}")
            if box.group(2) != icon:
                problems.append(f"icon {box.group(2)}, wanted {icon}")
            if box.group(3) != "1":
                problems.append("not topmost")
            if box.group(4) != "0":
                problems.append("has an owner window")
            if box.group(5) != "1":
                problems.append("not in the foreground")
        if "done" not in out.split("\n"):
            problems.append("the command did not end after the box was closed")
        print(f"{name}: {'ok' if not problems else '; '.join(problems)}")
        settle()
        if problems:
            failures.append(name)

    # No row selected: nothing is shown and the command ends at once.
    out, found = run_case(args.probe, "--no-selection", timeout=20)
    if found or "box text" in out or "done" not in out.split("\n"):
        print("no selection: a box was shown or the command did not end")
        failures.append("no selection")
    else:
        print("no selection: ok")

    print(f"{len(CASES) + 1 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
