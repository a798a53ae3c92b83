#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# archive.sh BUILD_DIR [LINES]: one large archive (LINES lines, 1,000,000 by
# default) sent by `logfwd LOG all` both ways: decompressed in place (gunzip,
# send, gzip, in a writable folder) and read without touching it (through zlib,
# the folder mounted read-only). Wall seconds, CPU seconds and peak RSS from GNU
# time; the RSS is the largest of logfwd and the gunzip/gzip it waited for.
# Runs itself inside tests/e2e/sandbox.sh (private 127.0.0.1:514, /etc/orvane,
# mounts). Each figure is the best of RUNS (3).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/common.sh"
enter_sandbox "$0" "$@"
build=$(cd "${1:?usage: archive.sh BUILD_DIR [LINES]}" && pwd)
lines=${2:-1000000}
logfwd=$build/logfwd/logfwd
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'umount "$work/ro" 2>/dev/null || true; rm -rf "$work"' EXIT

cc -O2 -o "$work/udp_counter" "$here/udp_counter.c"
echo "host = 127.0.0.1" > /etc/orvane/syslog_settings
mkdir "$work/rw" "$work/ro"
log_lines "$lines" | gzip > "$work/rw/messages.1.gz"
: > "$work/rw/messages"
cp "$work/rw/messages.1.gz" "$work/rw/messages" "$work/ro/"
mount --bind "$work/ro" "$work/ro"
mount -o remount,bind,ro "$work/ro"

# one_run FOLDER: "seconds peak_kib cpu_seconds arrived" of one run.
one_run() {
    rm -f "$work/ready"
    taskset -c 1 "$work/udp_counter" 514 "$work/ready" > "$work/arrived" &
    counter=$!
    while [ ! -e "$work/ready" ]; do sleep 0.05; done
    taskset -c 0 /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$logfwd" "$1/messages" all > /dev/null 2>&1
    wait "$counter"
    read -r seconds kib user system < "$work/time"
    echo "$seconds $kib $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $(cat "$work/arrived")"
}

echo "| archive read | lines | seconds | CPU seconds | datagrams arrived | peak RSS (KiB) |"
echo "|---|---|---|---|---|---|"
for way in "in place (gunzip, send, gzip):rw" "without touching it (zlib, read-only folder):ro"; do
    best=""
    i=0
    while [ $i -lt "$runs" ]; do
        best=$(printf '%s\n%s\n' "$best" "$(one_run "$work/${way##*:}")" | grep . | sort -n | head -1)
        i=$((i + 1))
    done
    set -- $best
    echo "| ${way%:*} | $lines | $1 | $3 | $4 | $2 |"
done
