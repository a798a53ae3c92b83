#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# demo-logfwd.sh BUILD_DIR: logfwd against a private rsyslogd on 127.0.0.1,
# first over UDP (paced, the default, port 514), then over TCP (octet-counted
# frames, port 514), then over TLS (port 6514, the server's certificate
# verified against a throw-away CA made here with the openssl command), then
# over RELP into imrelp (port 2514), where each line is answered.
# Run through demo.sh, which gives it private namespaces (its own /etc/orvane).
set -eu
build=$1
work=$(mktemp -d)
rsyslogd_pid=""
trap '[ -z "$rsyslogd_pid" ] || { kill "$rsyslogd_pid"; wait "$rsyslogd_pid"; }; rm -rf "$work"' EXIT

# A throw-away CA and a server certificate for 127.0.0.1, as a site would make them.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -subj /CN=demo-ca -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=127.0.0.1 \
    -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
    -days 1 -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null

cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work" DefaultNetstreamDriverCAFile="$work/ca.pem"
       DefaultNetstreamDriverCertFile="$work/server.pem" DefaultNetstreamDriverKeyFile="$work/server.key")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="514")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="514")
input(type="imtcp" address="127.0.0.1" port="6514" name="imtcp-tls"
      StreamDriver.Name="ossl" StreamDriver.Mode="1" StreamDriver.AuthMode="anon")
module(load="imrelp")
input(type="imrelp" port="2514")
template(name="readable" type="string"
         string="%inputname% | %syslogfacility-text%.%syslogseverity-text% | %timereported:::date-rfc3164% | %hostname% | %syslogtag% |%msg%\n")
if \$inputname == "imudp" or \$inputname == "imtcp" or \$inputname == "imtcp-tls" or \$inputname == "imrelp" then { action(type="omfile" file="$work/received.log" template="readable") }
CONF
rsyslogd -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" >"$work/rsyslogd.out" 2>&1 &
rsyslogd_pid=$!
for _ in $(seq 100); do
    grep -q ' 0100007F:0202 ' /proc/net/udp && grep -q ' 0100007F:0202 ' /proc/net/tcp &&
        grep -q ' 0100007F:196A ' /proc/net/tcp && grep -q ':09D2 ' /proc/net/tcp && break
    sleep 0.1
done

# settings LINE...: writes the settings file, one line per argument, and shows it.
settings() {
    printf '%s\n' "$@" > /etc/orvane/syslog_settings
    echo
    echo "== /etc/orvane/syslog_settings: $(tr '\n' ' ' < /etc/orvane/syslog_settings)"
}

# forward ARGS...: runs logfwd and shows its exit status.
forward() {
    status=0
    "$build/logfwd/logfwd" "$@" || status=$?
    echo "logfwd exited with status $status"
}

# received INPUT COUNT: once rsyslogd has written COUNT lines in all, the ones from INPUT.
received() {
    for _ in $(seq 50); do [ "$(wc -l < "$work/received.log" 2>/dev/null || echo 0)" -ge "$2" ] && break; sleep 0.1; done
    grep "^$1 |" "$work/received.log"
}

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

settings "host = 127.0.0.1"
echo "== logfwd $work/log/messages all (paced UDP datagrams)"
forward "$work/log/messages" all
echo "== what rsyslogd received (input | facility.severity | time | host | tag | message)"
received imudp 6
echo "== the archives afterwards: $(cd "$work/log" && ls | tr '\n' ' ')"

settings "host = 127.0.0.1" "protocol = tcp"
echo "== logfwd $work/log/messages (one TCP connection, octet-counted frames)"
forward "$work/log/messages"
echo "== what rsyslogd received over TCP"
received imtcp 9

settings "host = 127.0.0.1" "protocol = tls" "ca_file = $work/ca.pem"
echo "== logfwd $work/log/messages (TLS to port 6514, the server's certificate checked against ca.pem)"
forward "$work/log/messages"
echo "== what rsyslogd received over TLS"
received imtcp-tls 12

settings "host = 127.0.0.1" "protocol = relp" "port = 2514"
echo "== logfwd $work/log/messages (RELP into imrelp: a line counts as sent once rsyslog answered it)"
forward "$work/log/messages"
echo "== what rsyslogd received over RELP"
received imrelp 15

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -subj /CN=other-ca -keyout "$work/other-ca.key" -out "$work/other-ca.pem" 2>/dev/null
settings "host = 127.0.0.1" "protocol = tls" "ca_file = $work/other-ca.pem"
echo "== the same over TLS with a CA that did not sign the server's certificate"
forward "$work/log/messages"

settings "host = 127.0.0.1" "protocol = tcp" "port = 1514"
echo "== a server that is not there: port 1514"
forward "$work/log/messages" all
echo "== the archives: $(cd "$work/log" && ls | tr '\n' ' ')"
