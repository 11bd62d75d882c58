#!/usr/bin/env bash
# Installs what is missing, builds Tolvessa.exe, runs its unattended report under Wine
# ("Tolvessa.exe -log <file>") and prints the report it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j "$(nproc)" --target Tolvessa

source tools/wine-env.sh
if [[ "$TOLVESSA_WINE32" != 1 ]]; then
    echo "this machine cannot run 32-bit programs, so Wine cannot run Tolvessa.exe here" >&2
    exit 1
fi
report="$PWD/build/KernelDrivers.log"
rm -f "$report"
"$tolvessa_wine" build/mingw-i686/bin/Tolvessa.exe -log "Z:${report//\//\\}" </dev/null
if [[ ! -s "$report" ]]; then
    echo "no report was written (can this Wine prefix run 32-bit programs?)" >&2
    exit 1
fi
# The report is in the ANSI code page (with a byte-order mark when that is UTF-8).
if [[ "$(head -c 3 "$report" | od -An -tx1 | tr -d ' ')" == "efbbbf" ]]; then
    tail -c +4 "$report" | tr -d '\r'
else
    iconv -f WINDOWS-1252 -t UTF-8 "$report" | tr -d '\r'
fi
echo "(report written to $report)" >&2
