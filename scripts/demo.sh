#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# demo.sh: builds both programs and shows them at work against a local
# mosquitto broker and a local syslog receiver. It runs inside private
# namespaces (needs root), so the fixed paths /mnt/vexa/set, /etc/orvane and
# port 514 are the real ones without touching the host.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
build=build/demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build"
for part in scripts/demo-devsim.sh scripts/demo-logfwd.sh; do
    [ -x "$part" ] && tests/e2e/sandbox.sh "$part" "$build"
done
