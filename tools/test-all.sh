#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the host suite plain, under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer, a smoke run of the fuzz targets, then the
# Windows builds' suites under Wine (unit, platform and end-to-end tests): the 64-bit build's,
# and the 32-bit build's on a machine that can run 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
jobs=$(nproc)

for preset in host-debug host-asan host-tsan; do
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

# The 64-bit build first: the 32-bit build's hand-over test runs Tolvessa64.exe.
cmake --preset mingw-x86_64 -DTOLVESSA_HOST_SCAN="$PWD/build/host-release/tools/tolvessa_scan" >/dev/null
cmake --build --preset mingw-x86_64 -j "$jobs"
cmake --preset mingw-i686 -DTOLVESSA_HOST_SCAN="$PWD/build/host-release/tools/tolvessa_scan" \
    -DTOLVESSA_EXE64="$PWD/build/mingw-x86_64/bin/Tolvessa64.exe" >/dev/null
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    cmake --build --preset mingw-i686 -j "$jobs"
else
    # Where 32-bit programs cannot run, the 32-bit tests never run either: only the two
    # programs are built (their tests' sources are the 64-bit build's, compiled above).
    cmake --build --preset mingw-i686 -j "$jobs" --target Tolvessa TolvessaTestable
fi

source tools/wine-env.sh
ctest --preset mingw-x86_64 -j "$jobs"
if [[ "$TOLVESSA_WINE32" == 1 ]]; then
    ctest --preset mingw-i686
else
    # Some sandboxed kernels execute 64-bit programs only; there Wine cannot start a 32-bit
    # program, and the 32-bit build is only compiled.
    echo "SKIPPED: the 32-bit Windows build's tests (this machine cannot run 32-bit programs)" >&2
fi
