#!/usr/bin/env bash
# Sourced by the scripts that run Windows programs: a throwaway 64-bit Wine prefix (a 32-bit
# program in it sees the world as on 64-bit Windows) and one Wine server kept alive meanwhile.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "creating the Wine prefix $WINEPREFIX" >&2
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi
wineserver -p
wine cmd /c ver </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
