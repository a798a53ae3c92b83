#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# test.sh: the one command for CI and by hand. Installs what is missing,
# builds x86-64 (build/x86) and the controller's armhf (build/armhf, run
# under qemu-arm) with warnings as errors, runs the whole ctest suite on both,
# x86-64 first, with the platform boundary check between them, then the
# sanitizer and fuzz scripts when they are there.
# Unlike a plain "set -e" script it goes on after a failed stage, so that one
# run shows every failure; it ends with a table of stages, results and times.
# Needs root: the end-to-end tests use private namespaces. JOBS=2 compile
# jobs by default; TEST_JOBS (4 times JOBS) tests side by side, since most
# end-to-end tests spend their time waiting on real peers and clocks.
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
export TEST_JOBS=${TEST_JOBS:-$((jobs * 4))}
logs=build/logs
summary=""
failed=0

# stage NAME COMMAND...: runs COMMAND, timed; NAME's row goes in the summary.
stage() {
    name=$1
    shift
    echo "==== $name: $*"
    start=$(date +%s)
    if "$@"; then result=ok; else result=FAILED; failed=$((failed + 1)); fi
    seconds=$(($(date +%s) - start))
    summary="$summary$(printf '%-22s %-7s %5ds  %s' "$name" "$result" "$seconds" "$(tests_line "$name")")
"
    [ "$result" = ok ]
}

# The ctest tally of a test stage ("25 tests, 0 failed"), from its log.
tests_line() {
    [ -f "$logs/$1.log" ] || return 0
    sed -n 's/^.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\2 tests, \1 failed/p' "$logs/$1.log"
}

# Line tables only (-g1): enough for backtraces and valgrind's reports, and
# a fifth less compile time than full debug information.
configure_and_build() {
    dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "$@" &&
        cmake --build "$dir" -j "$jobs"
}

# run_tests NAME DIR: the whole suite; the log keeps the tally for the summary.
# A test that fails runs once more and fails the stage only if it fails again:
# the end-to-end tests run real servers on a shared 2-core machine, and the
# output of the first failure stays in the log to be looked at.
run_tests() {
    { ctest --test-dir "$2" --output-on-failure -j "$TEST_JOBS" --repeat until-pass:2; echo $? >"$logs/$1.status"; } 2>&1 |
        tee "$logs/$1.log"
    return "$(cat "$logs/$1.status")"
}

# logged NAME COMMAND...: COMMAND's output also in NAME's log, for the summary's tally.
logged() {
    log_name=$1
    shift
    { "$@"; echo $? >"$logs/$log_name.status"; } 2>&1 | tee "$logs/$log_name.log"
    return "$(cat "$logs/$log_name.status")"
}

# build_and_test ARCH DIR CMAKE_ARGS...: the test stage only after a good build.
build_and_test() {
    arch=$1 dir=$2
    shift 2
    if stage "$arch-build" configure_and_build "$dir" "$@"; then
        stage "$arch-tests" run_tests "$arch-tests" "$dir"
    else
        note "$arch-tests" skipped
    fi
}

note() {
    summary="$summary$(printf '%-22s %-7s' "$1" "$2")
"
}

# optional_stage NAME SCRIPT [ARGS...]: runs SCRIPT when it exists and is executable.
optional_stage() {
    if [ -x "$2" ]; then
        stage "$@"
    else
        note "$1" absent
    fi
}

mkdir -p "$logs"
rm -f "$logs"/*.log "$logs"/*.status
total_start=$(date +%s)
stage dependencies scripts/install-deps.sh || true
build_and_test x86-64 build/x86
# Both programs linked against stubs of the controller's libraries, and the
# tests that need no stand-in.
stage platform-boundary logged platform-boundary scripts/test-platform-boundary.sh
build_and_test armhf build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
optional_stage sanitizers scripts/test-sanitizers.sh || true
# 15 s per fuzz target, so that the whole run stays within 8 minutes on a
# 2-core machine; a long run is scripts/fuzz.sh SECONDS (bench/README.md).
optional_stage fuzz scripts/fuzz.sh 15 || true

echo
echo "==== summary (stage, result, seconds, tests)"
printf '%s' "$summary"
printf '%-22s %-7s %5ds\n' total "$([ $failed -eq 0 ] && echo ok || echo FAILED)" $(($(date +%s) - total_start))
[ $failed -eq 0 ]
