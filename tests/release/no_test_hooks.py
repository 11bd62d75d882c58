#!/usr/bin/env python3
"""The shipped program honours no test hook: no environment variable of the test build is named
anywhere in the product (Tolvessa.exe, Tolvessa64.exe), while the test build (TolvessaTestable.exe) names each of them, so the
look-up itself is shown to find them.

    no_test_hooks.py --product Tolvessa.exe --testable TolvessaTestable.exe
"""
import argparse
import sys

# The variables the test build reads; Windows programs name them in UTF-16.
HOOKS = ["TOLVESSA_SHELL_LOG", "TOLVESSA_MODULE_TABLE", "TOLVESSA_HAND_OVER_AS_WOW64"]


def named(data, name):
    return name.encode("utf-16-le") in data or name.encode("ascii") in data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--product", required=True)
    parser.add_argument("--testable", required=True)
    args = parser.parse_args()
    with open(args.product, "rb") as f:
        product = f.read()
    with open(args.testable, "rb") as f:
        testable = f.read()
    failures = []
    for hook in HOOKS:
        if named(product, hook):
            failures.append(f"{args.product} names {hook}")
        if not named(testable, hook):
            failures.append(f"{args.testable} does not name {hook}: the look-up proves nothing")
    if named(product, "TOLVESSA_"):
        failures.append(f"{args.product} names a TOLVESSA_ variable")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(HOOKS) * 2 + 1 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
