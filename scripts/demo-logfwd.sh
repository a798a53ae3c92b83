#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# demo-logfwd.sh BUILD_DIR: logfwd against a private rsyslogd on 127.0.0.1:514,
# first over UDP (paced, the default), then over TCP (octet-counted frames).
# Run through demo.sh, which gives it private namespaces (its own /etc/orvane).
set -eu
build=$1
work=$(mktemp -d)
rsyslogd_pid=""
trap '[ -z "$rsyslogd_pid" ] || { kill "$rsyslogd_pid"; wait "$rsyslogd_pid"; }; rm -rf "$work"' EXIT

cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="514")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="514")
template(name="readable" type="string"
         string="%inputname% | %syslogfacility-text%.%syslogseverity-text% | %timereported:::date-rfc3164% | %hostname% | %syslogtag% |%msg%\n")
if \$inputname == "imudp" or \$inputname == "imtcp" then { action(type="omfile" file="$work/received.log" template="readable") }
CONF
rsyslogd -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" >"$work/rsyslogd.out" 2>&1 &
rsyslogd_pid=$!
for _ in $(seq 50); do grep -q ' 0100007F:0202 ' /proc/net/udp && grep -q ' 0100007F:0202 ' /proc/net/tcp && break; sleep 0.1; done

echo "host = 127.0.0.1" > /etc/orvane/syslog_settings
echo "== /etc/orvane/syslog_settings: $(cat /etc/orvane/syslog_settings)"
mkdir "$work/log"
printf '%s\n' \
    "Mar  1 08:00:01 ctrl user.info backup[311]: nightly backup started" \
    "Mar  1 08:00:09 ctrl user.err backup[311]: cannot reach nas: timeout" | gzip > "$work/log/messages.2.gz"
printf '%s\n' \
    "Mar  2 08:00:01 ctrl user.notice ntpd[90]: clock stepped by 0.4 s" | gzip > "$work/log/messages.1.gz"
printf '%s\n' \
    "Mar  3 09:30:00 ctrl user.warn app[42]: disk almost full" \
    "Mar  3 09:30:05 ctrl user.emerg app[42]: disk full: writes refused" \
    "Mar  3 09:30:07 ctrl user.debug app[42]: retry in 5 s" > "$work/log/messages"
echo "== $work/log: $(cd "$work/log" && ls | tr '\n' ' ')"

echo "== logfwd $work/log/messages all"
status=0
"$build/logfwd/logfwd" "$work/log/messages" all || status=$?
echo "logfwd exited with status $status"
for _ in $(seq 50); do [ "$(wc -l < "$work/received.log" 2>/dev/null || echo 0)" -ge 6 ] && break; sleep 0.1; done
echo "== what rsyslogd received (input | facility.severity | time | host | tag | message)"
cat "$work/received.log"
echo "== the archives afterwards: $(cd "$work/log" && ls | tr '\n' ' ')"

printf 'host = 127.0.0.1\nprotocol = tcp\n' > /etc/orvane/syslog_settings
echo
echo "== /etc/orvane/syslog_settings: $(tr '\n' ' ' < /etc/orvane/syslog_settings)"
echo "== logfwd $work/log/messages (one TCP connection, octet-counted frames)"
status=0
"$build/logfwd/logfwd" "$work/log/messages" || status=$?
echo "logfwd exited with status $status"
for _ in $(seq 50); do [ "$(wc -l < "$work/received.log")" -ge 9 ] && break; sleep 0.1; done
echo "== what rsyslogd received over TCP"
grep '^imtcp' "$work/received.log"
echo "== a server that is not there: port 1514"
printf 'host = 127.0.0.1\nprotocol = tcp\nport = 1514\n' > /etc/orvane/syslog_settings
status=0
"$build/logfwd/logfwd" "$work/log/messages" all || status=$?
echo "logfwd exited with status $status; the archives: $(cd "$work/log" && ls | tr '\n' ' ')"
