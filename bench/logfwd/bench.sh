#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# bench.sh BUILD_DIR [LINES...]: several tables, inside tests/e2e/sandbox.sh so
# that 127.0.0.1:514 and /etc/orvane are private.
#  sink: lines per second of logfwd (rate = 0) sending a log file to a loopback
#    UDP sink, beside the least a sender can do (min_sender.c, one sendto per
#    line) and util-linux logger (--udp --rfc3164 -f), with the datagrams that
#    arrived and each sender's peak memory (GNU time). The sender runs on CPU
#    0, the sink on CPU 1. Each figure is the best of RUNS.
#  rsyslog: into a default rsyslogd: logfwd over UDP at its default rate and
#    at rate = 0, over TCP (imtcp), over TLS (imtcp with the ossl stream
#    driver, certificates made by tests/e2e/certificates.py), and logger -T
#    --octet-count -f over TCP; seconds until the last line arrived, lines
#    arrived, datagrams dropped at rsyslog's full socket buffer, peak memory.
#    One run each.
#  stream: logfwd over TCP and over TLS, and logger -T --octet-count -f, into
#    rsyslogd, RUNS runs each.
#  terminal: logfwd (rate = 0) to the loopback UDP sink with its standard
#    error on a terminal (a pseudo-terminal of script(1)), so that it draws
#    its progress line, against the same run with standard error on
#    /dev/null; both through script, alternately, RUNS runs each; the best
#    of each, and their ratio.
#  rate check (RATE_CHECK="RATE..."; only this table then): for each rate,
#    RUNS runs of logfwd over UDP at that rate into rsyslogd (imudp) while
#    another process keeps one core busy; lines arrived in each run.
# PARTS="sink rsyslog stream terminal" picks the tables (sink and rsyslog by default).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/common.sh"
enter_sandbox "$0" "$@"
build=$(cd "${1:?usage: bench.sh BUILD_DIR [LINES...]}" && pwd)
shift
[ $# -gt 0 ] || set -- 100000 1000000
logfwd=$build/logfwd/logfwd
runs=${RUNS:-3}
work=$(mktemp -d)
rsyslogd_pid="" busy=""
trap '[ -z "$rsyslogd_pid" ] || kill "$rsyslogd_pid"; [ -z "$busy" ] || kill "$busy"; rm -rf "$work"' EXIT

cc -O2 -o "$work/min_sender" "$here/min_sender.c"
cc -O2 -o "$work/udp_counter" "$here/udp_counter.c"
mkdir "$work/certs"
/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import certificates
certificates.make_certificates(sys.argv[2])' "$root/tests/e2e" "$work/certs"

# make_log N: the log file of N lines.
make_log() {
    log_lines "$1" > "$work/log.$1"
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

sink_table() {
    printf 'host = 127.0.0.1\nrate = 0\n' > /etc/orvane/syslog_settings
    echo "| sender | lines | seconds | lines/s | CPU seconds | datagrams arrived | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|"
    for lines in "$@"; do
        log=$work/log.$lines
        best_of "min_sender (C, one sendto per line)" "$lines" "$work/min_sender" "$log" 127.0.0.1 514
        best_of "logfwd, rate = 0" "$lines" "$logfwd" "$log"
        best_of "logger --udp --rfc3164 -f" "$lines" logger --udp --rfc3164 -n 127.0.0.1 -P 514 -f "$log"
    done
}

# start_rsyslog udp|tcp|tls: a default rsyslogd on 127.0.0.1:514 that writes
# one two-byte record per message, so that its output's size counts the lines.
# rsyslogd binds its port before its input thread reads: over UDP and TCP a
# probe message must have come through before the measured sender starts, or
# the first few hundred lines would overrun a socket that nobody reads yet.
start_rsyslog() {
    rm -rf "$work/rsyslog"
    mkdir "$work/rsyslog"
    global="" driver="" tls=""
    if [ "$1" = tls ]; then
        tls=yes
        global=" DefaultNetstreamDriverCAFile=\"$work/certs/ca.pem\" DefaultNetstreamDriverCertFile=\"$work/certs/server.pem\" DefaultNetstreamDriverKeyFile=\"$work/certs/server.key\""
        driver=' StreamDriver.Name="ossl" StreamDriver.Mode="1" StreamDriver.AuthMode="anon"'
        set -- tcp
    fi
    cat > "$work/rsyslog/conf" <<CONF
global(workDirectory="$work/rsyslog"$global)
module(load="im$1"$driver)
input(type="im$1" address="127.0.0.1" port="514")
template(name="count" type="string" string="x\\n")
action(type="omfile" file="$work/rsyslog/received" template="count")
CONF
    rsyslogd -n -f "$work/rsyslog/conf" -i "$work/rsyslog/pid" > /dev/null 2>&1 &
    rsyslogd_pid=$!
    # Bound (UDP) or listening (TCP, state 0A): a connection of the run
    # before, in TIME_WAIT on the same port, must not pass for the server.
    table=/proc/net/udp bound=' 0100007F:0202 '
    [ "$1" = udp ] || table=/proc/net/tcp bound=' 0100007F:0202 00000000:0000 0A '
    while ! grep -q "$bound" "$table"; do sleep 0.05; done
    probes=0
    [ -z "$tls" ] || return 0
    option=--udp
    [ "$1" = udp ] || option=-T
    while [ "$(stat -c %s "$work/rsyslog/received" 2>/dev/null || echo 0)" -eq 0 ]; do
        logger "$option" -n 127.0.0.1 -P 514 probe
        sleep 0.1
    done
    sleep 0.2
    probes=$(( $(stat -c %s "$work/rsyslog/received") / 2 ))
}

stop_rsyslog() {
    kill "$rsyslogd_pid"
    wait "$rsyslogd_pid" || true
    rsyslogd_pid=""
}

received_lines() {
    echo $(( $(stat -c %s "$work/rsyslog/received" 2>/dev/null || echo 0) / 2 - probes ))
}

now() {
    date +%s.%N
}

# Datagrams this network namespace dropped because a receive buffer was full.
udp_overflows() {
    awk '$1 == "Udp:" && $2 ~ /^[0-9]/ { print $6 }' /proc/net/snmp
}

# into_rsyslog NAME LINES udp|tcp COMMAND...: one run into a fresh rsyslogd;
# prints the row: seconds from the start until the last line arrived (it
# arrived when the output has not grown for 3 s), lines/s, arrived, datagrams
# dropped at a full receive buffer, peak RSS.
into_rsyslog() {
    name=$1 lines=$2 protocol=$3
    shift 3
    start_rsyslog "$protocol"
    overflows=$(udp_overflows)
    started=$(now)
    /usr/bin/time -f "%M" -o "$work/time" "$@" > "$work/out" || { cat "$work/out" "$work/time"; exit 1; }
    seen=-1 last=$(now) quiet=0
    while [ "$quiet" -lt 150 ]; do
        count=$(received_lines)
        if [ "$count" != "$seen" ]; then
            seen=$count last=$(now) quiet=0
        else
            quiet=$((quiet + 1))
        fi
        [ "$count" -ge "$lines" ] && break
        sleep 0.02
    done
    stop_rsyslog
    overflows=$(( $(udp_overflows) - overflows ))
    awk -v name="$name" -v lines="$lines" -v from="$started" -v to="$last" -v got="$seen" \
        -v dropped="$overflows" -v kib="$(cat "$work/time")" 'BEGIN { s = to - from
        printf "| %s | %d | %.2f | %.0f | %d | %d | %d |\n", name, lines, s, lines / s, got, dropped, kib }'
}

rsyslog_table() {
    echo "| sender | lines | seconds until the last line arrived | lines/s | lines arrived | receive buffer overflows | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|"
    for lines in "$@"; do
        log=$work/log.$lines
        echo "host = 127.0.0.1" > /etc/orvane/syslog_settings
        into_rsyslog "logfwd, UDP, default rate" "$lines" udp "$logfwd" "$log"
        printf 'host = 127.0.0.1\nrate = 0\n' > /etc/orvane/syslog_settings
        into_rsyslog "logfwd, UDP, rate = 0" "$lines" udp "$logfwd" "$log"
        printf 'host = 127.0.0.1\nprotocol = tcp\n' > /etc/orvane/syslog_settings
        into_rsyslog "logfwd, TCP" "$lines" tcp "$logfwd" "$log"
        tls_settings
        into_rsyslog "logfwd, TLS" "$lines" tls "$logfwd" "$log"
        into_rsyslog "logger -T --octet-count -f" "$lines" tcp \
            logger -T --octet-count --rfc3164 -n 127.0.0.1 -P 514 -f "$log"
    done
}

tls_settings() {
    printf 'host = 127.0.0.1\nprotocol = tls\nport = 514\nca_file = %s\n' \
        "$work/certs/ca.pem" > /etc/orvane/syslog_settings
}

stream_table() {
    echo "| sender | lines | seconds until the last line arrived | lines/s | lines arrived | receive buffer overflows | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|"
    for lines in "$@"; do
        i=1
        while [ $i -le "$runs" ]; do
            printf 'host = 127.0.0.1\nprotocol = tcp\n' > /etc/orvane/syslog_settings
            into_rsyslog "logfwd, TCP" "$lines" tcp "$logfwd" "$work/log.$lines"
            tls_settings
            into_rsyslog "logfwd, TLS" "$lines" tls "$logfwd" "$work/log.$lines"
            into_rsyslog "logger -T --octet-count -f" "$lines" tcp \
                logger -T --octet-count --rfc3164 -n 127.0.0.1 -P 514 -f "$work/log.$lines"
            i=$((i + 1))
        done
    done
}

# terminal_table LINES...: the progress line's cost; stdout is the terminal in both runs.
terminal_table() {
    printf 'host = 127.0.0.1\nrate = 0\n' > /etc/orvane/syslog_settings
    echo "| standard error | lines | seconds | lines/s | CPU seconds | datagrams arrived | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|"
    for lines in "$@"; do
        : > "$work/tty.runs"
        : > "$work/null.runs"
        i=0
        while [ $i -lt "$runs" ]; do
            one_run tty "$lines" script -qec "$logfwd $work/log.$lines" /dev/null >> "$work/tty.runs"
            one_run null "$lines" script -qec "$logfwd $work/log.$lines 2>/dev/null" /dev/null >> "$work/null.runs"
            i=$((i + 1))
        done
        for kind in tty null; do
            sort -n "$work/$kind.runs" | head -1 | awk -v kind="$kind" -v lines="$lines" '{
                printf "| %s | %d | %.2f | %.0f | %.2f | %d | %d |\n", kind == "tty" ? "a terminal" : "/dev/null",
                       lines, $1, lines / $1, $3, $4, $2 }'
        done
        awk 'NR == FNR { if (t == "" || $1 < t) t = $1; next } { if (n == "" || $1 < n) n = $1 }
             END { printf "\nterminal / no terminal: %.3f in seconds (goal: at most 1.02)\n\n", t / n }' \
            "$work/tty.runs" "$work/null.runs"
    done
}

# rate_check LINES RATE...: RUNS runs per rate beside a busy loop on one core.
rate_check() {
    lines=$1
    shift
    echo "| rate (lines/s) | run | lines | seconds until the last line arrived | lines/s | lines arrived | receive buffer overflows | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|---|"
    for rate in "$@"; do
        printf 'host = 127.0.0.1\nrate = %s\n' "$rate" > /etc/orvane/syslog_settings
        i=1
        while [ $i -le "$runs" ]; do
            timeout 600 sh -c 'while :; do :; done' 2>/dev/null &
            busy=$!
            row=$(into_rsyslog "$i" "$lines" udp "$logfwd" "$work/log.$lines")
            kill "$busy"
            wait "$busy" 2>/dev/null || true
            busy=""
            echo "| $rate $row"
            i=$((i + 1))
        done
    done
}

for lines in "$@"; do
    make_log "$lines"
done
if [ -n "${RATE_CHECK:-}" ]; then
    rate_check "$1" $RATE_CHECK
    exit 0
fi
for part in ${PARTS:-sink rsyslog}; do
    "${part}_table" "$@"
    echo
done
