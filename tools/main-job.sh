#!/usr/bin/env bash
# Installs what is missing, builds both Windows programs (Tolvessa.exe, 32-bit, and
# Tolvessa64.exe, 64-bit), puts them side by side in build/dist as they ship, runs the unattended
# report under Wine ("Tolvessa.exe -log <file>", which hands over to Tolvessa64.exe on 64-bit
# Windows) and prints the report it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake --preset mingw-x86_64 >/dev/null
cmake --build --preset mingw-x86_64 -j "$(nproc)" --target Tolvessa64
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j "$(nproc)" --target Tolvessa

# The shipped folder: both programs and their documents.
dist="$PWD/build/dist"
rm -rf "$dist"
mkdir -p "$dist"
cp build/mingw-i686/bin/Tolvessa.exe build/mingw-i686/bin/EULA.txt \
   build/mingw-i686/bin/Changelog.txt build/mingw-x86_64/bin/Tolvessa64.exe "$dist/"

source tools/wine-env.sh
if [[ "$TOLVESSA_WINE32" == 1 ]]; then
    program=Tolvessa.exe
else
    # Some sandboxed kernels execute 64-bit programs only: there the 32-bit program cannot start
    # under Wine, so the program it would hand over to runs directly.
    echo "this machine cannot run 32-bit programs: running Tolvessa64.exe directly" >&2
    program=Tolvessa64.exe
fi
report="$PWD/build/KernelDrivers.log"
rm -f "$report"
status=0
"$tolvessa_wine" "$dist/$program" -log "Z:${report//\//\\}" </dev/null || status=$?
if [[ ! -s "$report" ]]; then
    echo "no report was written (exit code $status)" >&2
    exit 1
fi
# The report is in the ANSI code page (with a byte-order mark when that is UTF-8).
if [[ "$(head -c 3 "$report" | od -An -tx1 | tr -d ' ')" == "efbbbf" ]]; then
    tail -c +4 "$report" | tr -d '\r'
else
    iconv -f WINDOWS-1252 -t UTF-8 "$report" | tr -d '\r'
fi
echo "(report written to $report by $program, exit code $status)" >&2
exit "$status"
