#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# demo-devsim.sh BUILD_DIR: devsim against a private mosquitto broker: the
# announcement, an acceptance by hand, the name report, two rounds of
# periodic messages, a menu request and its reply, and the withdrawal on
# SIGTERM, as they appear on the bus.
# Run through demo.sh, which gives it private namespaces (port 1883 and
# /mnt/vexa/set are its own); it stops everything it starts.
set -eu
build=$1
work=$(mktemp -d)
helpers=""     # broker and subscriber
devsim_pid=""
shown=0        # bus lines printed so far

stop_all() {
    [ -z "$devsim_pid" ] || kill "$devsim_pid" 2>/dev/null || true
    for pid in $helpers; do kill "$pid" 2>/dev/null || true; done
    for pid in $devsim_pid $helpers; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap stop_all EXIT

# wait_for FILE PATTERN [COUNT]: waits up to 10 s for COUNT lines (1 by default) matching PATTERN.
wait_for() {
    tries=0
    while [ "$(grep -c -- "$2" "$1" 2>/dev/null || true)" -lt "${3:-1}" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "demo: no \"$2\" in $1 after 10 s" >&2
            exit 1
        fi
        sleep 0.1
    done
}

# Prints the bus lines that arrived since the last call.
show_bus() {
    grep '^sbapi/' "$work/bus" | tail -n +$((shown + 1)) | sed 's/^/    /'
    shown=$(grep -c '^sbapi/' "$work/bus" || true)
}

printf 'listener 1883 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n' >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
helpers="$helpers $!"
wait_for "$work/broker.log" "running"
mosquitto_sub -h 127.0.0.1 -v -q 1 -t 'sbapi/#' -t 'demo/ready' >"$work/bus" &
helpers="$helpers $!"
until grep -q '^demo/ready' "$work/bus"; do
    mosquitto_pub -h 127.0.0.1 -t demo/ready -m ready
    sleep 0.1
done

echo "== devsim DEMO-FID demo-device 2   (controller DEMO-CTRL, broker 127.0.0.1:1883)"
CONTROLLER_FID=DEMO-CTRL "$build/devsim/devsim" DEMO-FID demo-device 2 2>"$work/devsim.trace" &
devsim_pid=$!
wait_for "$work/bus" '^sbapi/DEMO-FID/up/1500'
echo "-- the announcement on the bus (topic, then message):"
show_bus

echo "== accepting it: mosquitto_pub -q 1 -t sbapi/DEMO-FID/down/1500 -m '{\"valid\":true}'"
mosquitto_pub -h 127.0.0.1 -q 1 -t sbapi/DEMO-FID/down/1500 -m '{"valid":true}'
wait_for "$work/bus" '^sbapi/DEMO-FID/up/3 ' 2
echo "-- the verdict, the name report (1501), then status (2) and measurement (3) every 2 s:"
show_bus

request='{"sequence_id":"menu_entry","ref_id":"demo-1","data":{"menu_reference":{"reference":1}}}'
echo "== a menu request: mosquitto_pub -q 1 -t sbapi/DEMO-FID/down/2000 -m '$request'"
mosquitto_pub -h 127.0.0.1 -q 1 -t sbapi/DEMO-FID/down/2000 -m "$request"
wait_for "$work/bus" '^sbapi/DEMO-FID/up/2001 '
echo "-- the request and its reply (2001), the table menu page as \"data\":"
show_bus

echo "== kill -TERM devsim"
kill -TERM "$devsim_pid"
status=0
wait "$devsim_pid" || status=$?
devsim_pid=""
wait_for "$work/bus" '"cstate":0'
echo "-- the withdrawal (cstate 0); devsim exited with status $status:"
show_bus

echo "== devsim's trace (standard error):"
sed 's/^/    /' "$work/devsim.trace"
echo "== /mnt/vexa/set/pidev_fid holds: $(cat /mnt/vexa/set/pidev_fid)"
