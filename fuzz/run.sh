#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a while, then prints
# what every run did: executions, executions per second, corpus size, findings and units that
# ran slowly (kept for a look, but no finding: a unit that hangs is a timeout, which is one).
#
#   fuzz/run.sh [--smoke] [--time SECONDS] [--runs N] [--fork JOBS] [TARGET...]
#
#   --smoke       a few seconds per target, in a throwaway corpus folder (for CI)
#   --time S      stop each target after S seconds (default 60)
#   --runs N      stop each target after N executions (no time limit unless --time is given)
#   --fork JOBS   run each target in JOBS processes at once (libFuzzer's fork mode); the
#                 executions and the time are those of all of them together
#   TARGET        module_table, kernel_path, pe_version, cmd_line, certificate_table,
#                 image_hash, pe_image, catalog, loldrivers_csv, sipolicy, timestamp
#                 (default: every target the build has)
#
# The seeds in fuzz/corpus/<target> and the inputs in fuzz/regressions/<target> are read first;
# what a run adds to the corpus goes to build/fuzz/corpus/<target>, kept between runs. A finding
# is written to build/fuzz/findings/<target>/; once fixed, it belongs in fuzz/regressions/<target>.
# The exit status is 1 when any target found something, 2 when the build or a run failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TOLVESSA_FUZZ_BUILD:-$root/build/fuzz}

seconds=60
timeGiven=0
runs=-1
fork=0
smoke=0
targets=()
while (($#)); do
    case "$1" in
        --smoke) smoke=1; seconds=5 ;;
        --time) seconds=$2; timeGiven=1; shift ;;
        --runs) runs=$2; shift ;;
        --fork) fork=$2; shift ;;
        -h | --help) sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) targets+=("$1") ;;
    esac
    shift
done
if ((runs > 0 && !smoke && !timeGiven)); then
    seconds=0  # no time limit unless one was asked for
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTOLVESSA_FUZZ=ON -DTOLVESSA_BENCHMARKS=OFF >/dev/null
else
    # Configured again, so that the list of targets below is the sources' own.
    cmake -S "$root" -B "$build" >/dev/null
fi
if ((${#targets[@]} == 0)); then
    mapfile -t targets < <(sed -n 's/^TOLVESSA_FUZZ_TARGET_LIST:INTERNAL=//p' \
        "$build/CMakeCache.txt" | tr ';' '\n')
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}" >/dev/null || exit 2

# Inputs longer than this add nothing but time: a command line of 512 characters already has
# room for every case, a table of 7 entries (in either layout) for every mix of whole, cut and
# claimed entries, an image of 8 KiB (twice the largest seed) for its headers, a resource
# directory, version data and a certificate table, 8 KiB of a vulnerable-driver list (three times
# the CSV seed) or of a policy (its UTF-16 seed has 7.5 KiB); a signature, 16 KiB, has room for
# the largest real one with its timestamp (a catalog of 20 files). Every byte more is hashed, written
# and read again on each run.
max_len() {
    case "$1" in
        cmd_line) echo 1024 ;;
        kernel_path) echo 2048 ;;
        module_table) echo 2080 ;;
        timestamp) echo 16384 ;;  # the largest sample signature has 14.4 KiB
        *) echo 8192 ;;
    esac
}

scratch=""
if ((smoke)); then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
fi

status=0
summary=()
for target in "${targets[@]}"; do
    exe=$build/fuzz/fuzz_$target
    work=${scratch:-$build}/corpus/$target
    findings=$build/findings/$target
    log=$build/logs/$target.log
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    inputs=("$work" "$root/fuzz/corpus/$target")
    [[ -d $root/fuzz/regressions/$target ]] && inputs+=("$root/fuzz/regressions/$target")
    # The timestamp target starts from the signatures of the real Windows samples beside the
    # checkout as well, written to the build folder (their bytes stay out of the tree).
    samples=$root/../shared/windows-samples
    if [[ $target == timestamp && -d $samples ]]; then
        python3 "$root/fuzz/sample_signatures.py" "$samples" "$build/samples/$target"
        inputs+=("$build/samples/$target")
    fi
    options=(-max_total_time="$seconds" -runs="$runs" -max_len="$(max_len "$target")"
             -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$findings/")
    [[ -f $root/fuzz/$target.dict ]] && options+=(-dict="$root/fuzz/$target.dict")
    ((fork > 0)) && options+=(-fork="$fork")

    known=$(ls -A "$findings")
    echo "== $target: log in $log"
    rc=0
    "$exe" "${options[@]}" "${inputs[@]}" >"$log" 2>&1 || rc=$?
    new=$(comm -13 <(echo "$known") <(ls -A "$findings") | sed '/^$/d')
    # A unit libFuzzer merely timed as slow is kept but is no finding: a hang is a timeout.
    found=$(printf '%s' "$new" | grep -vc '^slow-unit-' || true)
    slow=$(printf '%s' "$new" | grep -c '^slow-unit-' || true)

    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(grep -Eo 'corp: [0-9]+/[0-9]+[A-Za-z]*' "$log" | tail -1 | cut -d' ' -f2 || true)
    if ((fork > 0)); then
        # Fork mode has no final statistics: its last status line counts every process.
        last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1 || true)
        executions=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
        elapsed=$(sed -En 's/.* time: ([0-9]+)s.*/\1/p' <<<"$last")
        corpus=$(sed -En 's/.* corp: ([0-9]+) .*/\1/p' <<<"$last")
        speed=""
        if [[ -n $executions && ${elapsed:-0} -gt 0 ]]; then
            speed=$((executions / elapsed))
        fi
    fi
    if ((found > 0)); then
        status=1
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed)' "$log" | head -3 || true
        while read -r name; do echo "   finding: $findings/$name"; done <<<"$new"
    elif ((rc != 0)); then
        status=2
        tail -20 "$log"
    fi
    if ((slow > 0)); then
        grep '^Slowest unit' "$log" | tail -1 || true
        grep '^slow-unit-' <<<"$new" | while read -r name; do echo "   slow: $findings/$name"; done
    fi
    summary+=("$(printf '%-18s %14s %10s %12s %9s %5s' "$target" "${executions:-?}" "${speed:-?}" \
        "${corpus:-?}" "$found" "$slow")")
done

printf '\n%-18s %14s %10s %12s %9s %5s\n' target executions exec/s corpus findings slow
printf '%s\n' "${summary[@]}"
exit "$status"
