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
#  relp: logfwd over TCP (imtcp), RELP (imrelp), TLS and RELP inside TLS, and
#    librelp's own client (relp_sender.c) over RELP and RELP inside TLS, RUNS
#    rounds in turn; every run's row, then the medians and their ratios.
#  relp_delayed: the same over a path of 40 ms round trip (nfq_delay.c holds
#    every packet of port 514 for DELAY_MS, 20, each way), the rows of
#    DELAYED_ROWS (tcp relp librelp; also tls relp-tls librelp-tls).
#    ANCHOR_WINDOW sets librelp's window (0: its default, 128) in both tables.
#  window: logfwd over RELP built with each RELP window of WINDOWS
#    ("FRAMES:BYTES ..."), beside logfwd over TCP, on loopback and over the
#    40 ms path (WINDOW_PATHS), RUNS rounds in turn.
#  terminal: logfwd (rate = 0) to the loopback UDP sink with its standard
#    error on a terminal (a pseudo-terminal of script(1)), so that it draws
#    its progress line, against the same run with standard error on
#    /dev/null; both through script, alternately, RUNS runs each; the best
#    of each, and their ratio.
#  rate check (RATE_CHECK="RATE..."; only this table then): for each rate,
#    RUNS runs of logfwd over UDP at that rate into rsyslogd (imudp) while
#    another process keeps one core busy; lines arrived in each run.
# PARTS="sink rsyslog stream relp relp_delayed window terminal" picks the tables
# (sink and rsyslog by default). Every rsyslogd has the same main queue, and
# gets a probe message of its kind before the measured sender starts.
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
delay_ms=${DELAY_MS:-20}
anchor_window=${ANCHOR_WINDOW:-0}
rsyslogd_pid="" busy="" delay=""
trap '[ -z "$rsyslogd_pid" ] || kill "$rsyslogd_pid"; [ -z "$busy" ] || kill "$busy"
      [ -z "$delay" ] || kill "$delay"; rm -rf "$work"' EXIT

cc -O2 -o "$work/min_sender" "$here/min_sender.c"
cc -O2 -o "$work/udp_counter" "$here/udp_counter.c"
case " ${PARTS:-} " in
*relp*|*window*)
    # librelp-dev and libnetfilter-queue-dev: the RELP tables only.
    cc -O2 -o "$work/relp_sender" "$here/relp_sender.c" $(pkg-config --cflags --libs relp)
    cc -O2 -o "$work/nfq_delay" "$here/nfq_delay.c" $(pkg-config --cflags --libs libnetfilter_queue) ;;
esac
log_lines 1 > "$work/probe"
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

# The main queue of every rsyslogd here, Debian's defaults written out (rsyslogd
# -d shows them), so that every input, imudp, imtcp or imrelp, feeds the same
# queue: a fixed array of 100,000 messages, 2 workers, batches of up to 256.
MAIN_QUEUE='main_queue(queue.type="FixedArray" queue.size="100000" queue.workerThreads="2" queue.dequeueBatchSize="256")'

# start_rsyslog udp|tcp|tls|relp|relp-tls: a default rsyslogd on 127.0.0.1:514
# that writes one two-byte record per message, so that its output's size
# counts the lines; tls is imtcp with the ossl stream driver, relp imrelp and
# relp-tls imrelp inside TLS (OpenSSL), each with the server certificate of
# tests/e2e/certificates.py and no client certificate asked for.
# rsyslogd binds its port before its input thread reads: a probe message must
# have come through before the measured sender starts, or over UDP the first
# few hundred lines would overrun a socket that nobody reads yet, and the
# stream senders' time would include rsyslogd's start.
start_rsyslog() {
    rm -rf "$work/rsyslog"
    mkdir "$work/rsyslog"
    kind=$1 global="" module="" options="" input=$1
    certs="tls.cacert=\"$work/certs/ca.pem\" tls.mycert=\"$work/certs/server.pem\" tls.myprivkey=\"$work/certs/server.key\""
    case $kind in
    tls)
        global=" DefaultNetstreamDriverCAFile=\"$work/certs/ca.pem\" DefaultNetstreamDriverCertFile=\"$work/certs/server.pem\" DefaultNetstreamDriverKeyFile=\"$work/certs/server.key\""
        module=' StreamDriver.Name="ossl" StreamDriver.Mode="1" StreamDriver.AuthMode="anon"'
        input=tcp ;;
    relp) ;;
    relp-tls)
        module=' tls.tlslib="openssl"'
        options=" tls=\"on\" $certs"
        input=relp ;;
    esac
    cat > "$work/rsyslog/conf" <<CONF
global(workDirectory="$work/rsyslog"$global)
$MAIN_QUEUE
module(load="im$input"$module)
input(type="im$input" address="127.0.0.1" port="514"$options)
template(name="count" type="string" string="x\\n")
action(type="omfile" file="$work/rsyslog/received" template="count")
CONF
    rsyslogd -n -f "$work/rsyslog/conf" -i "$work/rsyslog/pid" > /dev/null 2>&1 &
    rsyslogd_pid=$!
    # Bound (UDP) or listening (TCP, state 0A): a connection of the run
    # before, in TIME_WAIT on the same port, must not pass for the server.
    table=/proc/net/udp bound=' 0100007F:0202 '
    [ "$input" = udp ] || table=/proc/net/tcp bound=' 0100007F:0202 00000000:0000 0A '
    while ! grep -q "$bound" "$table"; do sleep 0.05; done
    probes=0 tries=0
    while [ "$(stat -c %s "$work/rsyslog/received" 2>/dev/null || echo 0)" -eq 0 ]; do
        tries=$((tries + 1))
        [ "$tries" -le 50 ] || { echo "rsyslogd ($kind) took none of 50 probes" >&2; exit 1; }
        probe "$kind"
        sleep 0.1
    done
    sleep 0.2
    probes=$(( $(stat -c %s "$work/rsyslog/received") / 2 ))
}

# probe udp|tcp|tls|relp|relp-tls: one message of the kind; TLS through logfwd
# itself with the TLS settings (the run's own settings are kept), RELP through
# librelp's client.
probe() {
    case $1 in
    udp|tcp) logger "--$1" -n 127.0.0.1 -P 514 probe ;;
    tls)
        cp /etc/orvane/syslog_settings "$work/settings.kept"
        tls_settings
        "$logfwd" "$work/probe" > /dev/null 2>&1 || true
        mv "$work/settings.kept" /etc/orvane/syslog_settings ;;
    relp) "$work/relp_sender" "$work/probe" 127.0.0.1 514 > /dev/null 2>&1 || true ;;
    relp-tls) "$work/relp_sender" "$work/probe" 127.0.0.1 514 0 "$work/certs/ca.pem" > /dev/null 2>&1 || true ;;
    esac
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

# into_rsyslog NAME LINES KIND COMMAND...: one run into a fresh rsyslogd of
# that kind (see start_rsyslog); prints the row: seconds from the start until
# the last line arrived (it arrived when the output has not grown for 3 s),
# lines/s, arrived, datagrams dropped at a full receive buffer, peak RSS. With
# record set to a file, "seconds peak_kib arrived" go there as well.
into_rsyslog() {
    name=$1 lines=$2 protocol=$3
    shift 3
    start_rsyslog "$protocol"
    overflows=$(udp_overflows)
    started=$(now)
    # A sender that fails is told of on standard error, and its row still
    # counts what arrived (librelp's client has given up on a session).
    status=0
    /usr/bin/time -f "%M" -o "$work/time" "$@" > "$work/out" || status=$?
    [ "$status" -eq 0 ] || echo "$name: exit status $status" >&2
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
    # What a stream sender said besides its last line (a lost connection, a
    # reconnection), and all it said when lines were lost or came twice, goes
    # to standard error.
    if [ "$protocol" != udp ]; then
        if [ "$seen" -eq "$lines" ]; then
            grep -v -e '^Successfully sent ' -e '^[0-9]* sent, 0 failed$' "$work/out" || true
        else
            cat "$work/out"
        fi | sed "s/^/$name: /" >&2
    fi
    overflows=$(( $(udp_overflows) - overflows ))
    awk -v name="$name" -v lines="$lines" -v from="$started" -v to="$last" -v got="$seen" \
        -v dropped="$overflows" -v kib="$(tail -n 1 "$work/time")" -v record="${record:-}" 'BEGIN { s = to - from
        printf "| %s | %d | %.2f | %.0f | %d | %d | %d |\n", name, lines, s, lines / s, got, dropped, kib
        if (record != "")
            printf "%.3f %d %d\n", s, kib, got >> record }'
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

# relp_row KEY LINES [LOGFWD]: one run of a row of the RELP tables into a fresh
# rsyslogd, its figures also kept in runs.KEY: tcp (logfwd, imtcp), relp
# (logfwd, imrelp; LOGFWD in its place when given), librelp (librelp's own
# client, relp_sender.c, with ANCHOR_WINDOW commands waiting at most, 0 for
# librelp's default of 128), and tls, relp-tls and librelp-tls: the same
# inside TLS.
relp_row() {
    key=$1 lines=$2 sender=${3:-$logfwd}
    log=$work/log.$lines record=$work/runs.$key
    case $key in
    tcp)
        printf 'host = 127.0.0.1\nprotocol = tcp\n' > /etc/orvane/syslog_settings
        into_rsyslog "$(row_name "$key")" "$lines" tcp "$logfwd" "$log" ;;
    relp*-tls)
        printf 'host = 127.0.0.1\nprotocol = relp-tls\nport = 514\nca_file = %s\n' \
            "$work/certs/ca.pem" > /etc/orvane/syslog_settings
        into_rsyslog "$(row_name "$key")" "$lines" relp-tls "$sender" "$log" ;;
    relp*)
        printf 'host = 127.0.0.1\nprotocol = relp\n' > /etc/orvane/syslog_settings
        into_rsyslog "$(row_name "$key")" "$lines" relp "$sender" "$log" ;;
    librelp)
        into_rsyslog "$(row_name "$key")" "$lines" relp \
            "$work/relp_sender" "$log" 127.0.0.1 514 "$anchor_window" ;;
    tls)
        tls_settings
        into_rsyslog "$(row_name "$key")" "$lines" tls "$logfwd" "$log" ;;
    librelp-tls)
        into_rsyslog "$(row_name "$key")" "$lines" relp-tls \
            "$work/relp_sender" "$log" 127.0.0.1 514 "$anchor_window" "$work/certs/ca.pem" ;;
    esac
    record=""
}

row_name() {
    case $1 in
    tcp) echo "logfwd, TCP" ;;
    relp) echo "logfwd, RELP" ;;
    librelp) echo "librelp's client, RELP" ;;
    tls) echo "logfwd, TLS" ;;
    relp-tls) echo "logfwd, RELP inside TLS" ;;
    librelp-tls) echo "librelp's client, RELP inside TLS" ;;
    relp.*) echo "logfwd, RELP, window ${1#relp.}" ;;
    *) echo "$1" ;;
    esac
}

# summary KEY NAME LINES: the row of runs.KEY: runs, the median seconds, the
# fastest and slowest, the fewest and most lines arrived, the least and most
# peak RSS.
summary() {
    sort -n "$work/runs.$1" | awk -v name="$2" -v lines="$3" '
        { s[NR] = $1; if (NR == 1 || $2 < kmin) kmin = $2; if ($2 > kmax) kmax = $2
          if (NR == 1 || $3 < fewest) fewest = $3; if ($3 > most) most = $3 }
        END { median = NR % 2 ? s[(NR + 1) / 2] : (s[NR / 2] + s[NR / 2 + 1]) / 2
              printf "| %s | %d | %d | %.2f | %.2f-%.2f | %s | %d-%d |\n", name, lines, NR, median,
                     s[1], s[NR], fewest == most ? fewest : fewest "-" most, kmin, kmax }'
}

median() {
    sort -n "$work/runs.$1" | awk '{ s[NR] = $1 } END {
        print NR % 2 ? s[(NR + 1) / 2] : (s[NR / 2] + s[NR / 2 + 1]) / 2 }'
}

# ratio A B: the medians' ratio A / B, with the ratio of each run to the
# run of B beside it (runs alternate) as a range.
ratio() {
    awk -v a="$(median "$1")" -v b="$(median "$2")" 'NR == FNR { x[FNR] = $1; next }
        { r = x[FNR] / $1; if (FNR == 1 || r < lo) lo = r; if (r > hi) hi = r }
        END { printf "%.2f (run by run %.2f-%.2f)", a / b, lo, hi }' "$work/runs.$1" "$work/runs.$2"
}

summary_header() {
    echo "| sender | lines | runs | median seconds until the last line arrived | fastest-slowest | lines arrived | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|"
}

load_average() {
    cut -d ' ' -f 1-3 /proc/loadavg
}

# relp_rows LINES KEY...: RUNS rounds of the rows in turn, then their summary.
relp_rows() {
    lines=$1
    shift
    rm -f "$work"/runs.*
    echo "load average at the start: $(load_average)"
    echo
    echo "| sender | lines | seconds until the last line arrived | lines/s | lines arrived | receive buffer overflows | peak RSS (KiB) |"
    echo "|---|---|---|---|---|---|---|"
    i=1
    while [ $i -le "$runs" ]; do
        for key in "$@"; do
            relp_row "$key" "$lines"
        done
        i=$((i + 1))
    done
    echo
    echo "load average at the end: $(load_average)"
    echo
    summary_header
    for key in "$@"; do
        summary "$key" "$(row_name "$key")" "$lines"
    done
    echo
    for pair in relp:tcp librelp:tcp relp-tls:tls librelp-tls:tls relp:librelp relp-tls:librelp-tls; do
        a=${pair%:*} b=${pair#*:}
        [ -s "$work/runs.$a" ] && [ -s "$work/runs.$b" ] || continue
        echo "- $(row_name "$a") / $(row_name "$b"): $(ratio "$a" "$b")"
    done
}

# relp_table LINES...: logfwd over TCP, RELP, TLS and RELP inside TLS, and
# librelp's client over RELP and RELP inside TLS, RUNS rounds in turn.
relp_table() {
    for lines in "$@"; do
        relp_rows "$lines" tcp relp librelp tls relp-tls librelp-tls
        echo
    done
}

# delay_on: every packet to or from port 514 on loopback waits DELAY_MS (20)
# in nfq_delay.c on its way, so that a round trip takes twice that; delay_off
# ends it and prints what the delaying tool counted.
delay_on() {
    rm -f "$work/delay.ready"
    "$work/nfq_delay" 0 "$delay_ms" "$work/delay.ready" 2> "$work/delay.log" &
    delay=$!
    while [ ! -e "$work/delay.ready" ]; do sleep 0.05; done
    for port in --dport --sport; do
        iptables -w -A OUTPUT -o lo -p tcp "$port" 514 -j NFQUEUE --queue-num 0
    done
}

delay_off() {
    for port in --dport --sport; do
        iptables -w -D OUTPUT -o lo -p tcp "$port" 514 -j NFQUEUE --queue-num 0
    done
    kill "$delay"
    wait "$delay" || true
    delay=""
    cat "$work/delay.log"
}

# relp_delayed_table LINES...: the rows DELAYED_ROWS (tcp relp librelp) over a
# path of 2 x DELAY_MS round trip.
relp_delayed_table() {
    echo "round trip: $((2 * delay_ms)) ms (nfq_delay.c)"
    echo
    delay_on
    for lines in "$@"; do
        relp_rows "$lines" ${DELAYED_ROWS:-tcp relp librelp}
        echo
    done
    delay_off
}

# window_build FRAMES BYTES: logfwd built from a copy of this tree with
# RELP_WINDOW_FRAMES and RELP_WINDOW_BYTES set so (the build folder's type),
# as $work/logfwd.FRAMES.BYTES. The first call copies and configures.
window_build() {
    source=$work/window/src
    if [ ! -d "$source" ]; then
        mkdir -p "$source"
        (cd "$root" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$source"
        cmake -S "$source" -B "$work/window/build" -G Ninja -DBUILD_TESTING=OFF \
            -DCMAKE_BUILD_TYPE="$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")" > /dev/null
    fi
    sed -i -e "s/^const size_t RELP_WINDOW_FRAMES = .*;/const size_t RELP_WINDOW_FRAMES = $1;/" \
        -e "s/^const size_t RELP_WINDOW_BYTES = .*;/const size_t RELP_WINDOW_BYTES = $2;/" \
        "$source/logfwd/transport/stream_transport.cpp"
    [ "$(grep -c -e "RELP_WINDOW_FRAMES = $1;" -e "RELP_WINDOW_BYTES = $2;" \
        "$source/logfwd/transport/stream_transport.cpp")" -eq 2 ] || { echo "window_build: constants not found" >&2; exit 1; }
    cmake --build "$work/window/build" --target logfwd > /dev/null
    cp "$work/window/build/logfwd/logfwd" "$work/logfwd.$1.$2"
}

# window_table LINES...: logfwd over RELP with each window of WINDOWS
# ("FRAMES:BYTES ...") beside logfwd over TCP (this build), RUNS rounds in
# turn, on loopback and (WINDOW_PATHS="loopback delayed") over the path of
# 2 x DELAY_MS round trip; medians and their ratio to TCP's.
window_table() {
    windows=${WINDOWS:-"8192:524288 4096:262144 2048:131072 1024:65536 512:32768"}
    for window in $windows; do
        window_build "${window%:*}" "${window#*:}"
    done
    for path in ${WINDOW_PATHS:-loopback delayed}; do
        [ "$path" = loopback ] || delay_on
        for lines in "$@"; do
            rm -f "$work"/runs.*
            echo "path: $path; load average at the start: $(load_average)"
            echo
            echo "| sender (RELP: window frames.bytes) | lines | seconds until the last line arrived | lines/s | lines arrived | receive buffer overflows | peak RSS (KiB) |"
            echo "|---|---|---|---|---|---|---|"
            i=1
            while [ $i -le "$runs" ]; do
                relp_row tcp "$lines"
                for window in $windows; do
                    frames=${window%:*} bytes=${window#*:}
                    relp_row "relp.$frames.$bytes" "$lines" "$work/logfwd.$frames.$bytes"
                done
                i=$((i + 1))
            done
            echo
            echo "load average at the end: $(load_average)"
            echo
            echo "| sender | path | lines | runs | median seconds until the last line arrived | fastest-slowest | lines arrived | median / TCP's median |"
            echo "|---|---|---|---|---|---|---|---|"
            for key in tcp $(for window in $windows; do echo "relp.${window%:*}.${window#*:}"; done); do
                case $key in
                tcp) name="logfwd, TCP" ;;
                *) window=${key#relp.}
                   name="logfwd, RELP, window ${window%.*} frames, $((${window#*.} / 1024)) KiB" ;;
                esac
                summary "$key" "$name" "$lines" | awk -v path="$path" -v ratio="$(ratio "$key" tcp)" \
                    -F ' [|] ' '{ printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n",
                                  substr($1, 3), path, $2, $3, $4, $5, $6, ratio }'
            done
            echo
        done
        [ "$path" = loopback ] || delay_off
        echo
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
