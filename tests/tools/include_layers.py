#!/usr/bin/env python3
"""Checks that every include of the product's sources runs from a room to one at its level or
below, never upwards.

The rooms, from the lowest: inventory < trust < commands, report < shell < shell/win32. The
logic rooms (inventory, trust, commands, report, shell) include no platform code, no Windows
program and no other system header beyond the language's own library. platform/host and
platform/win32 implement the logic rooms' interfaces: each may include the logic rooms and
itself, not the other platform, nor shell/win32. shell/win32 may include everything but
platform/host. The generated tolvessa_product.h is a leaf any file may include.

Usage: include_layers.py [--root DIR]; exits 1 and names each wrong-way include.
"""
import argparse
import os
import re
import sys

LOGIC_RANK = {"inventory": 0, "trust": 1, "commands": 2, "report": 2, "shell": 3}
ROOMS = ["shell/win32", "platform/host", "platform/win32"] + list(LOGIC_RANK)
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cpp", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Included by any room: the product's identity, generated at configure time.
LEAVES = {"tolvessa_product.h"}


def room_of(path):
    """The room of a path relative to the root ("shell/win32/x.h" -> "shell/win32"), or None."""
    path = path.replace(os.sep, "/")
    for room in ROOMS:  # the deeper rooms first
        if path.startswith(room + "/"):
            return room
    return None


def allowed(source, target):
    """Whether a file of room `source` may include a file of room `target`."""
    if source == target:
        return True
    if source in LOGIC_RANK:
        return target in LOGIC_RANK and LOGIC_RANK[target] <= LOGIC_RANK[source]
    if source in ("platform/host", "platform/win32"):
        return target in LOGIC_RANK
    if source == "shell/win32":
        return target != "platform/host"
    return True


def check_file(root, relative):
    """The wrong-way includes of one file, as messages."""
    source = room_of(relative)
    problems = []
    with open(os.path.join(root, relative), encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    for number, line in enumerate(lines, 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        quote, name = match.groups()
        where = "%s:%d: #include %s%s%s" % (relative, number, quote, name,
                                             ">" if quote == "<" else '"')
        if quote == "<":
            # The language's headers have no ending ("vector", "cstdint"); a ".h" in angle
            # brackets is the system's (windows.h, unistd.h, openssl/...).
            if source in LOGIC_RANK and "." in os.path.basename(name):
                problems.append(where + ": a logic room includes a system header")
            continue
        if name in LEAVES:
            continue
        target = room_of(name)
        if target is None and "/" not in name:
            target = source  # beside the including file
        if target is None:
            problems.append(where + ": includes a file of no room")
        elif not allowed(source, target):
            problems.append(where + ": %s may not include %s" % (source, target))
    return problems


def check_tree(root):
    problems = []
    for room in ROOMS:
        folder = os.path.join(root, room)
        for directory, subfolders, files in os.walk(folder):
            relative_dir = os.path.relpath(directory, root).replace(os.sep, "/")
            # shell/win32 is a room of its own, walked on its own.
            if room == "shell":
                subfolders[:] = [s for s in subfolders if relative_dir + "/" + s != "shell/win32"]
            subfolders.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_ENDINGS):
                    problems += check_file(root, relative_dir + "/" + name)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", ".."))
    args = parser.parse_args()
    problems = check_tree(os.path.abspath(args.root))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
