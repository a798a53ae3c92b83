#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# test-platform-boundary.sh: shows that devsim and logfwd need nothing of the
# controller's libraries beyond the declarations in platform/include/. Builds
# link-only stubs of those libraries (tests/platform_stubs/: what the headers
# declare and nothing more), builds both programs against them with
# PLATFORM_STANDINS=OFF (build/boundary), and runs the tests that need no
# platform library: devsim and its menus against the recording platform, and
# logfwd's datagrams. -O0 without debug information, since nothing here is
# measured or debugged: the stage stays short.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
build=build/boundary
stubs=$PWD/$build/stubs

# One static library per header, named as the controller names it
# (json_helper.cpp gives libjsonhelper.a; PLATFORM_LIBRARY_NAMES).
mkdir -p "$stubs"
for source in tests/platform_stubs/*.cpp; do
    name=$(basename "$source" .cpp | tr -d _)
    c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -Iplatform/include -c "$source" -o "$stubs/$name.o"
    rm -f "$stubs/lib$name.a"
    ar rcs "$stubs/lib$name.a" "$stubs/$name.o"
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
    -DWARNINGS_AS_ERRORS=ON -DPLATFORM_STANDINS=OFF -DCMAKE_LIBRARY_PATH="$stubs" \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "${TEST_JOBS:-$((jobs * 4))}"
