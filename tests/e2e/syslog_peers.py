"""The other side of logfwd's UDP traffic, for the end-to-end tests.

UdpSink records every datagram byte for byte; Rsyslog is a real rsyslogd in
the foreground whose omfile action writes the fields it parsed from each
datagram, one line each: facility|severity|timestamp|hostname|tag|msg.
Both listen on port 514, so they run inside sandbox.sh (or another private
network namespace). Beside them, the files that logfwd reads: its settings
file and gzip archives.
"""
import os
import socket
import subprocess
import tempfile
import threading
import time

SYSLOG_PORT = 514


def wait_until(predicate, timeout=30.0, step=0.05):
    """Polls predicate until it is true or timeout seconds have passed."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class UdpSink:
    """Records datagrams sent to host:514 (IPv4 or IPv6), in arrival order."""

    def __init__(self, host="127.0.0.1"):
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self._socket = socket.socket(family, socket.SOCK_DGRAM)
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 << 20)
        self._socket.bind((host, SYSLOG_PORT))
        self._socket.settimeout(0.1)
        self._lock = threading.Lock()
        self._received = []
        self._running = True
        self._thread = threading.Thread(target=self._receive, daemon=True)
        self._thread.start()

    def _receive(self):
        while self._running:
            try:
                data = self._socket.recv(1 << 17)
            except socket.timeout:
                continue
            except OSError:
                return
            with self._lock:
                self._received.append(data)

    def datagrams(self):
        with self._lock:
            return list(self._received)

    def wait_for(self, count, timeout=30.0):
        """The datagrams once at least count have arrived (or the timeout passed)."""
        wait_until(lambda: len(self.datagrams()) >= count, timeout)
        return self.datagrams()

    def settle(self, quiet=0.3):
        """The datagrams once none has arrived for quiet seconds."""
        seen = -1
        while seen != len(self.datagrams()):
            seen = len(self.datagrams())
            time.sleep(quiet)
        return self.datagrams()

    def close(self):
        self._running = False
        self._thread.join()
        self._socket.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


RSYSLOG_CONF = """\
global(workDirectory="{work}"{tls_files})
{input}
template(name="fields" type="string"
         string="%syslogfacility-text%|%syslogseverity-text%|%timereported:::date-rfc3164%|%hostname%|%syslogtag%|%msg%\\n")
if $inputname == "{input_name}" then {{
    action(type="omfile" file="{work}/received.log" template="fields")
}}
"""
RSYSLOG_UDP_INPUT = """\
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="514")"""
# RFC 5425 with rsyslog's OpenSSL driver; x509/certvalid asks for a client
# certificate signed by the CA. On every address, so that localhost (::1 first)
# reaches it too.
RSYSLOG_TLS_INPUT = """\
module(load="imtcp" StreamDriver.Name="ossl" StreamDriver.Mode="1" StreamDriver.AuthMode="{auth}")
input(type="imtcp" port="{port}")"""
TLS_PORT = 6514


def _udp_port_bound(port):
    """True when something in this network namespace listens on 127.0.0.1:port."""
    wanted = "0100007F:%04X" % port
    with open("/proc/net/udp") as table:
        return any(line.split()[1] == wanted for line in table.readlines()[1:])


def _tcp_port_listening(port):
    """True when something in this network namespace listens on TCP port (IPv4 and IPv6)."""
    found = set()
    for name in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(name) as table:
            for line in table.readlines()[1:]:
                fields = line.split()
                if fields[1].endswith(":%04X" % port) and fields[3] == "0A":
                    found.add(name)
    return len(found) == 2


class Rsyslog:
    """rsyslogd -n with the template above; lines() gives what it wrote.
    By default it listens for UDP on 127.0.0.1:514; with tls (a dict of the
    PEM paths ca, cert and key, and optionally auth) it takes RFC 5425 on
    port 6514 instead."""

    def __init__(self, tls=None):
        self._work = tempfile.TemporaryDirectory()
        work = self._work.name
        conf = os.path.join(work, "rsyslog.conf")
        if tls:
            tls_files = (' DefaultNetstreamDriverCAFile="{ca}" DefaultNetstreamDriverCertFile="{cert}"'
                         ' DefaultNetstreamDriverKeyFile="{key}"').format(**tls)
            listening = lambda: _tcp_port_listening(TLS_PORT)
            rsyslog_input = RSYSLOG_TLS_INPUT.format(auth=tls.get("auth", "anon"), port=TLS_PORT)
        else:
            tls_files = ""
            listening = lambda: _udp_port_bound(SYSLOG_PORT)
            rsyslog_input = RSYSLOG_UDP_INPUT
        with open(conf, "w") as out:
            out.write(RSYSLOG_CONF.format(work=work, tls_files=tls_files, input=rsyslog_input,
                                          input_name="imtcp" if tls else "imudp"))
        self._output = os.path.join(work, "received.log")
        self._process = subprocess.Popen(
            ["rsyslogd", "-n", "-f", conf, "-i", os.path.join(work, "rsyslogd.pid")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(listening, timeout=20):
            self.close()
            raise RuntimeError("rsyslogd did not start listening")

    def lines(self):
        try:
            with open(self._output, "rb") as received:
                return received.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []

    def wait_for(self, count, timeout=30.0):
        wait_until(lambda: len(self.lines()) >= count, timeout)
        return self.lines()

    def close(self):
        if self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._work.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


SETTINGS_PATH = "/etc/orvane/syslog_settings"


def write_settings(text):
    """Writes logfwd's settings file (inside the sandbox's private /etc)."""
    os.makedirs(os.path.dirname(SETTINGS_PATH), exist_ok=True)
    with open(SETTINGS_PATH, "w") as out:
        out.write(text)


def write_archive(path, content):
    """A gzip archive at path holding content (bytes), made by the real gzip."""
    with open(path, "wb") as out:
        subprocess.run(["gzip", "-c"], input=content, stdout=out, check=True)


def archive_content(path):
    """What gunzip -c gives for the archive at path."""
    return subprocess.run(["gunzip", "-c", "--", path], capture_output=True, check=True).stdout

