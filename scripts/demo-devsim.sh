#!/bin/sh
# demo-devsim.sh BUILD_DIR: devsim against a private mosquitto broker.
# Run through demo.sh, which gives it private namespaces.
set -eu
build=$1
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

printf 'listener 1883 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n' > "$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
sleep 0.5

echo "== devsim DEMO-FID, interval 2 s; the bus traffic follows"
mosquitto_sub -h 127.0.0.1 -v -t 'sbapi/#' &
sleep 0.3
"$build/devsim/devsim" DEMO-FID demo-device 2 2>"$work/devsim.trace" &
devsim_pid=$!
sleep 1.5
echo "== accepting the device"
mosquitto_pub -h 127.0.0.1 -q 1 -t sbapi/DEMO-FID/down/1500 -m '{"valid":true}'
sleep 5
echo "== SIGTERM"
kill -TERM "$devsim_pid"
wait "$devsim_pid" && echo "devsim exited with status 0"
sleep 0.5
echo "== devsim's trace (standard error)"
cat "$work/devsim.trace"
echo "== FID file /mnt/vexa/set/pidev_fid: $(cat /mnt/vexa/set/pidev_fid)"
