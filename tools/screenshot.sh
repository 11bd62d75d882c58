#!/usr/bin/env bash
# Takes docs/main-window.png: Tolvessa64.exe under Wine and Xvfb (tools/wine-env.sh), with
# "Options > Show Hashes and Signatures" ticked, the list scrolled to its right-hand end once
# every row's verdict is in. Needs the mingw-x86_64 build (the program and the test probe).
#
#     tools/screenshot.sh [BUILD_DIR]     # build/mingw-x86_64 by default
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/mingw-x86_64}"
exe="$PWD/$build/bin/Tolvessa64.exe"
probe="$PWD/$build/tests/tolvessa_probe.exe"
out="$PWD/docs/main-window.png"
source tools/wine-env.sh

work="$(mktemp -d)"
(cd "$work" && exec "$TOLVESSA_WINE" "$exe" </dev/null >/dev/null 2>&1) &
app=$!
finish() {
    "$TOLVESSA_WINE" "$probe" close TForm2 >/dev/null 2>&1 || true
    wait "$app" 2>/dev/null || true
    rm -rf "$work"
    tolvessa_wine_cleanup
}
trap finish EXIT

p() { "$TOLVESSA_WINE" "$probe" "$@" 2>/dev/null | tr -d '\r'; }
until_true() {  # a command, tried for 60 s
    for _ in $(seq 200); do "$@" && return 0; sleep 0.3; done
    echo "timed out: $*" >&2
    return 1
}
loaded() { [[ "$(p status)" == *"Modules Loaded" ]]; }
# Every row of an existing file has its "Signature" cell (the 16th).
verdicts_in() {
    p rows | awk -F'\t' 'NF < 18 || ($10 == "True" && $16 == "") { bad = 1 } END { exit bad }'
}

window="$(xdotool search --sync --onlyvisible --name 'Corvane Tolvessa v' | head -1)"
until_true loaded
p size TForm2 1000 420 >/dev/null
p command 1008 >/dev/null  # Options > Show Hashes and Signatures
sleep 1
until_true loaded
until_true verdicts_in
# The list's horizontal scroll bar lies under its client area: page it to the right-hand end.
read -r _ _ right _ _ top _ height _ <<<"$(p control SysListView32)"
for _ in $(seq 12); do
    xdotool mousemove --sync $((right - 40)) $((top + height + 8)) click 1
    sleep 0.2
done
xdotool mousemove 0 0
sleep 0.5
import -window "$window" "$out"
echo "$out"
