#!/bin/sh
# bench.sh BUILD_DIR [LINES...]: lines per second of logfwd sending a log
# file to a loopback UDP sink, side by side with the least a sender can do
# (min_sender.c, one sendto per line) and with util-linux logger
# (--udp --rfc3164 -f), plus the datagrams that arrived and each sender's peak
# memory (GNU time). The sender runs on CPU 0, the sink on CPU 1. Runs itself inside tests/e2e/sandbox.sh, so that
# 127.0.0.1:514 and /etc/orvane are private. Each figure is the best of RUNS.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ "${CTRLTOOLS_SANDBOX:-}" != inside ]; then
    exec "$root/tests/e2e/sandbox.sh" /bin/sh "$0" "$@"
fi
build=$(cd "${1:?usage: bench.sh BUILD_DIR [LINES...]}" && pwd)
shift
[ $# -gt 0 ] || set -- 100000 1000000
logfwd=$build/logfwd/logfwd
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cc -O2 -o "$work/min_sender" "$here/min_sender.c"
cc -O2 -o "$work/udp_counter" "$here/udp_counter.c"
echo "host = 127.0.0.1" > /etc/orvane/syslog_settings

# make_log N: N lines in the layout logfwd expects, levels and hosts varied.
make_log() {
    awk -v n="$1" 'BEGIN {
        split("user.info user.warn user.err user.debug user.notice", level, " ")
        for (i = 0; i < n; i++)
            printf "Jan %2d %02d:%02d:%02d ctrl-%d %s app[%d]: request %d served in %d ms\n",
                   i % 28 + 1, i / 3600 % 24, i / 60 % 60, i % 60, i % 7, level[i % 5 + 1],
                   1000 + i % 50, i, i % 997
    }' > "$work/log.$1"
}

# one_run NAME LINES COMMAND...: prints "seconds peak_kib cpu_seconds arrived" of one run.
one_run() {
    name=$1 lines=$2
    shift 2
    rm -f "$work/ready"
    taskset -c 1 "$work/udp_counter" 514 "$work/ready" > "$work/arrived" &
    counter=$!
    while [ ! -e "$work/ready" ]; do sleep 0.05; done
    taskset -c 0 /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" > /dev/null
    wait "$counter"
    read -r seconds kib user system < "$work/time"
    echo "$seconds $kib $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $(cat "$work/arrived")"
}

# best_of NAME LINES COMMAND...: the fastest of $runs runs, as a table row.
best_of() {
    name=$1 lines=$2
    best=""
    i=0
    while [ $i -lt "$runs" ]; do
        result=$(one_run "$@")
        best=$(printf '%s\n%s\n' "$best" "$result" | grep . | sort -n | head -1)
        i=$((i + 1))
    done
    set -- $best
    awk -v name="$name" -v lines="$lines" -v s="$1" -v kib="$2" -v cpu="$3" -v got="$4" 'BEGIN {
        printf "| %s | %d | %.2f | %.0f | %.2f | %d | %d |\n",
               name, lines, s, (s > 0 ? lines / s : 0), cpu, got, kib }'
}

echo "| sender | lines | seconds | lines/s | CPU seconds | datagrams arrived | peak RSS (KiB) |"
echo "|---|---|---|---|---|---|---|"
for lines in "$@"; do
    make_log "$lines"
    log=$work/log.$lines
    best_of "min_sender (C, one sendto per line)" "$lines" "$work/min_sender" "$log" 127.0.0.1 514
    best_of "logfwd" "$lines" "$logfwd" "$log"
    best_of "logger --udp --rfc3164 -f" "$lines" logger --udp --rfc3164 -n 127.0.0.1 -P 514 -f "$log"
done
