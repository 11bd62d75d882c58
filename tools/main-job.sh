#!/usr/bin/env bash
# Installs what is missing, builds the host scanner and scans a recorded module table (the three
# modules Wine's kernel reports) over Wine's own image files, printing one row per module.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j "$(nproc)" --target tolvessa_scan

work=build/main-job
rm -rf "$work" && mkdir -p "$work/c/windows/system32/drivers"
wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
ln -s "$wine_dlls/ntoskrnl.exe" "$work/c/windows/system32/ntoskrnl.exe"
ln -s "$wine_dlls/hal.dll" "$work/c/windows/system32/hal.dll"
ln -s "$wine_dlls/mountmgr.sys" "$work/c/windows/system32/drivers/mountmgr.sys"

build/host-release/tools/tolvessa_scan --record "$work/modules.bin" \
    '\SystemRoot\system32\ntoskrnl.exe' '\SystemRoot\system32\hal.dll' \
    '\SystemRoot\system32\drivers\mountmgr.sys' 'beep.sys'
build/host-release/tools/tolvessa_scan --drive-c "$work/c" "$work/modules.bin"
