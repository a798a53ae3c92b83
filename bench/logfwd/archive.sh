#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# archive.sh BUILD_DIR [LINES]: one large archive (LINES lines, 1,000,000 by
# default) sent by `logfwd LOG all` (an empty log file beside it: the archive
# is read through zlib) against `logfwd PLAIN` on the same lines already
# decompressed, both with rate = 0 to the loopback counter, alternately.
# Wall seconds, CPU seconds and peak RSS from GNU time; each figure is the
# best of RUNS (3); the last line is the ratio archive / plain. Runs itself
# inside tests/e2e/sandbox.sh (private 127.0.0.1:514 and /etc/orvane).
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
trap 'rm -rf "$work"' EXIT

cc -O2 -o "$work/udp_counter" "$here/udp_counter.c"
printf 'host = 127.0.0.1\nrate = 0\n' > /etc/orvane/syslog_settings
mkdir "$work/archived"
log_lines "$lines" > "$work/plain"
gzip -c "$work/plain" > "$work/archived/messages.1.gz"
: > "$work/archived/messages"

# one_run ARGS...: "seconds peak_kib cpu_seconds arrived" of one run of logfwd ARGS.
one_run() {
    rm -f "$work/ready"
    taskset -c 1 "$work/udp_counter" 514 "$work/ready" > "$work/arrived" &
    counter=$!
    while [ ! -e "$work/ready" ]; do sleep 0.05; done
    taskset -c 0 /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$logfwd" "$@" > /dev/null 2>&1
    wait "$counter"
    read -r seconds kib user system < "$work/time"
    echo "$seconds $kib $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $(cat "$work/arrived")"
}

: > "$work/archive.runs"
: > "$work/plain.runs"
i=0
while [ $i -lt "$runs" ]; do
    one_run "$work/archived/messages" all >> "$work/archive.runs"
    one_run "$work/plain" >> "$work/plain.runs"
    i=$((i + 1))
done

# best KIND: the fastest run's "seconds peak_kib" and the least CPU seconds; "arrived" of the fastest.
best() {
    fastest=$(sort -n "$work/$1.runs" | head -1)
    cpu=$(sort -k3 -n "$work/$1.runs" | head -1 | awk '{ printf "%.2f", $3 }')
    set -- $fastest
    echo "$1 $2 $cpu $4"
}
set -- $(best archive) $(best plain)
echo "| sent | lines | seconds | CPU seconds | datagrams arrived | peak RSS (KiB) |"
echo "|---|---|---|---|---|---|"
echo "| \`logfwd LOG all\` (the archive, through zlib) | $lines | $1 | $3 | $4 | $2 |"
echo "| \`logfwd PLAIN\` (the same lines, decompressed) | $lines | $5 | $7 | $8 | $6 |"
awk -v a="$1" -v p="$5" -v ac="$3" -v pc="$7" 'BEGIN {
    printf "\narchive / plain: %.2f in seconds, %.2f in CPU seconds (goal: at most 1.3)\n", a / p, ac / pc }'
