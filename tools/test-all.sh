#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the host suite plain and under
# AddressSanitizer + UndefinedBehaviorSanitizer, a smoke run of the fuzz targets, then the
# Windows build's suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
jobs=$(nproc)

for preset in host-debug host-asan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

# A short run of every fuzz target (clang, ASan + UBSan) over the seeds and regression inputs.
fuzz/run.sh --smoke

# The release build carries the benchmarks (it must keep compiling) and the host scanner that
# the Windows end-to-end tests compare against.
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j "$jobs"

cmake --preset mingw-i686 -DTOLVESSA_HOST_SCAN="$PWD/build/host-release/tools/tolvessa_scan" >/dev/null
cmake --build --preset mingw-i686 -j "$jobs"
source tools/wine-env.sh
ctest --preset mingw-i686
