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
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DBUILD_FUZZERS=ON -DWARNINGS_AS_ERRORS=ON
# One target per seed corpus folder.
targets=$(cd tests/fuzz/corpus && ls)
cmake --build "$build" --target $(for t in $targets; do printf 'fuzz_%s ' "$t"; done)

failed=""
for target in $targets; do
    # New inputs go to the build's own corpus; the seeds in the repository stay as they are.
    work="$build/corpus/$target"
    findings="$build/findings/$target"
    log="$build/fuzz-$target.log"
    mkdir -p "$work" "$findings"
    echo "fuzzing $target for ${seconds}s"
    if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$target" \
        >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || tail -n 3 "$log"
    else
        echo "FINDING in $target (log $log):"
        grep -E -A 30 'ERROR|oracle failed|Test unit written' "$log" | head -n 60
        failed="$failed $target"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzz targets with findings:$failed" >&2
    exit 1
fi
echo "no findings"
