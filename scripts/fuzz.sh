#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# fuzz.sh [SECONDS]: builds the libFuzzer targets with clang (build/fuzz) and
# runs each for SECONDS (60 by default), starting from its seed corpus in
# tests/fuzz/corpus/<target>/. A crash, a sanitizer report, a leak, a broken
# oracle, a timeout or running out of memory fails the script; the input that
# did it is kept in build/fuzz/findings/<target>/. FUZZ_BUILD=DIR builds and
# runs elsewhere, e.g. a long run beside the CI's own build/fuzz.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
seconds=${1:-60}
build=${FUZZ_BUILD:-build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DBUILD_FUZZERS=ON -DWARNINGS_AS_ERRORS=ON
# One target per seed corpus folder.
targets=$(cd tests/fuzz/corpus && ls)
cmake --build "$build" --target $(for t in $targets; do printf 'fuzz_%s ' "$t"; done)

# fuzz_target TARGET: one target's run; its output goes to its log.
fuzz_target() {
    # New inputs go to the build's own corpus; the seeds in the repository stay as they are.
    work="$build/corpus/$1"
    findings="$build/findings/$1"
    mkdir -p "$work" "$findings"
    "$build/tests/fuzz/fuzz_$1" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$1" \
        >"$build/fuzz-$1.log" 2>&1
}

# JOBS targets at a time (one core each), then each one's result in turn.
jobs=${JOBS:-2}
failed=""
set -- $targets
while [ $# -gt 0 ]; do
    running=""  # TARGET:PID of this round
    while [ $# -gt 0 ] && [ "$(echo $running | wc -w)" -lt "$jobs" ]; do
        echo "fuzzing $1 for ${seconds}s"
        fuzz_target "$1" &
        running="$running $1:$!"
        shift
    done
    for entry in $running; do
        target=${entry%:*}
        log="$build/fuzz-$target.log"
        if wait "${entry#*:}"; then
            echo "$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || tail -n 3 "$log")"
        else
            echo "FINDING in $target (log $log):"
            grep -E -A 30 'ERROR|oracle failed|Test unit written' "$log" | head -n 60
            failed="$failed $target"
        fi
    done
done
if [ -n "$failed" ]; then
    echo "fuzz targets with findings:$failed" >&2
    exit 1
fi
echo "no findings"
