#!/bin/sh
# test.sh: installs what is missing, builds with warnings as errors and runs
# the whole test suite (unit and end-to-end) under ctest. Needs root for the
# private namespaces of the end-to-end tests.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/x86_64
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
