#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# test-sanitizers.sh: builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer (gcc, build/asan) and runs the ctest suite (all but
# the package test), end-to-end tests included, so the real binaries run
# sanitized too. JOBS compile jobs (2), TEST_JOBS tests at a time (4 times JOBS).
# Reports go to files, not to standard error, which the tests compare: an
# error makes its program exit with status 86 (the test fails) and is printed
# here after ctest, which fails this script as well.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/asan
# The benchmarks are left out: nothing runs them here.
# Unoptimized, with line tables (-g1): reports keep their file and line, no
# check is optimized away, and the build takes a third of the time of -O2 -g.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O0 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O0 -g1 -DNDEBUG" \
    -DENABLE_SANITIZERS=ON -DWARNINGS_AS_ERRORS=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
cmake --build "$build" -j "${JOBS:-2}"

reports="$PWD/$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
common="halt_on_error=1:exitcode=86:log_path=$reports/report:print_stacktrace=1"
# verify_asan_link_order=0: faketime preloads its library ahead of ASan's
# runtime, which still works since the programs link the runtime themselves.
export ASAN_OPTIONS="$common:detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:verify_asan_link_order=0"
export UBSAN_OPTIONS="$common"
export LSAN_OPTIONS="exitcode=86"

status=0
# All but the package test: packing instrumented programs checks nothing the
# x86-64 and armhf stages do not.
ctest --test-dir "$build" --output-on-failure -j "${TEST_JOBS:-$((${JOBS:-2} * 4))}" --repeat until-pass:2 -LE package || status=$?

# Errors (ASan, LSan, UBSan's "runtime error") fail the run; warnings, such as
# an allocation refused on purpose by a test, are only shown.
errors=0
for report in "$reports"/report*; do
    [ -e "$report" ] || continue
    if grep -q -E 'ERROR|runtime error' "$report"; then
        errors=$((errors + 1))
        echo "=== sanitizer report $report"
    else
        echo "=== sanitizer warning (not an error) $report"
    fi
    cat "$report"
done
if [ "$errors" -ne 0 ]; then
    echo "$errors sanitizer reports found (above)" >&2
    status=1
fi
exit "$status"
