# SPDX-License-Identifier: Apache-2.0
"""The other side of logfwd's traffic, for the end-to-end tests.

UdpSink records every datagram byte for byte; TcpServer reads octet-counted
frames and can stop reading; StallingServer takes every connection and reads
none; RelpServer speaks RELP, each connection well or as a hostile server
would; Rsyslog is a real rsyslogd in the foreground
(imudp, imtcp, or imtcp with its OpenSSL driver for TLS) whose omfile action writes the fields it parsed from each
message, one line each: facility|severity|timestamp|hostname|tag|msg.
They listen on port 514 by default (6514 for TLS), so they run inside sandbox.sh (or another
private network namespace). Beside them, the files that logfwd reads: its
settings file and gzip archives.
"""
import dataclasses
import fcntl
import os
import signal
import socket
import ssl
import struct
import subprocess
import tempfile
import termios
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

    def __init__(self, host="127.0.0.1", port=SYSLOG_PORT):
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self._socket = socket.socket(family, socket.SOCK_DGRAM)
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 << 20)
        self._socket.bind((host, port))
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


def frames(data):
    """The messages of RFC 6587 octet-counted frames ("LEN SP MSG"), and the
    bytes of a last frame that is not whole."""
    messages = []
    while b" " in data[:12]:
        length, rest = data.split(b" ", 1)
        if not length.isdigit() or len(rest) < int(length):
            break
        messages.append(rest[:int(length)])
        data = rest[int(length):]
    return messages, data


class TcpServer:
    """Accepts one connection on host:port (and no other: the listener closes),
    reads it until it has read read_at_most bytes, then stops reading."""

    def __init__(self, read_at_most, host="127.0.0.1", port=SYSLOG_PORT):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        # A fixed small receive buffer (the accepted socket inherits it) stops
        # the kernel from growing it to tens of MB, which could take in a
        # whole run: the sender must block once this server stops reading.
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
        self._listener.bind((host, port))
        self._listener.listen(1)
        self._limit = read_at_most
        self._data = b""
        self._connection = None
        self._thread = threading.Thread(target=self._receive, daemon=True)
        self._thread.start()

    def _receive(self):
        self._connection, _ = self._listener.accept()
        self._listener.close()
        while len(self._data) < self._limit:
            chunk = self._connection.recv(min(65536, self._limit - len(self._data)))
            if not chunk:
                break
            self._data += chunk

    def messages(self):
        return frames(self._data)[0]

    def acknowledged(self):
        """Bytes its TCP acknowledged: those read, and those waiting unread."""
        self._thread.join(timeout=30)
        unread = fcntl.ioctl(self._connection.fileno(), termios.FIONREAD, struct.pack("i", 0))
        return len(self._data) + struct.unpack("i", unread)[0]

    def close(self):
        self._thread.join(timeout=30)
        if self._connection:
            self._connection.close()


class AcceptingServer:
    """Takes every connection on 127.0.0.1:port on a thread of its own and
    hands each to take(); close() stops taking them."""

    def __init__(self, port, receive_buffer=None):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if receive_buffer:
            self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self._listener.bind(("127.0.0.1", port))
        self._listener.listen(16)
        self._listener.settimeout(0.1)
        self._running = True
        self._accepting = threading.Thread(target=self._accept, daemon=True)
        self._accepting.start()

    def _accept(self):
        while self._running:
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            self.take(connection)

    def close(self):
        self._running = False
        self._accepting.join()
        self._listener.close()


class StallingServer(AcceptingServer):
    """Takes every connection on 127.0.0.1:port (with tls, a dict of the PEM
    paths cert and key: after the TLS handshake) and never reads: each
    connection's kernel takes what its receive buffer holds, then nothing more,
    as a server whose queue is full (its disk full, say) does."""

    def __init__(self, port=SYSLOG_PORT, tls=None):
        self._context = None
        if tls:
            self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._context.load_cert_chain(tls["cert"], tls["key"])
        self.connections = []
        super().__init__(port, receive_buffer=32768)

    def take(self, connection):
        if self._context:
            connection.settimeout(10)
            try:
                connection = self._context.wrap_socket(connection, server_side=True)
            except (OSError, ssl.SSLError):
                connection.close()
                return
        self.connections.append(connection)

    def close(self):
        super().close()
        for connection in self.connections:
            connection.close()


def relp_frame(txnr, command, data=b""):
    """A RELP frame: "TXNR SP COMMAND SP DATALEN [SP DATA] LF"."""
    return b"%d %s %d%s\n" % (txnr, command, len(data), b" " + data if data else b"")


def relp_frames(data):
    """The whole RELP frames at the front of data, as (txnr, command, data),
    and the bytes of a last frame that is not whole."""
    found = []
    while data.count(b" ", 0, 64) >= 2:
        txnr, command, rest = data.split(b" ", 2)
        digits = len(rest) - len(rest.lstrip(b"0123456789"))
        if digits == 0 or digits == len(rest):
            break
        size = int(rest[:digits])
        start = digits + (1 if size else 0)  # the blank before the data
        if len(rest) < start + size + 1:
            break
        found.append((int(txnr), command, rest[start:start + size]))
        data = rest[start + size + 1:]
    return found, data


RELP_OFFERS = b"relp_version=0\nrelp_software=syslog_peers\ncommands=syslog"


@dataclasses.dataclass
class RelpMode:
    """What one connection of a RelpServer does. It answers "open" with
    open_answer numbered open_txnr (with None, not at all), each syslog
    command with "200 OK" or, for the numbers in refused, with refusal. At
    the command numbered act_at (1: open) it sends act instead of its answer
    and answers nothing more; then it ends the connection as end_after says
    ("close": its side, still reading; "reset": all of it, with a reset), and
    sends drip's bytes one every drip_pause seconds. It answers "close" and
    ends its side."""
    open_answer: bytes = b"200 OK\n" + RELP_OFFERS
    open_txnr: int = 1
    refused: tuple = ()
    refusal: bytes = b"500 command disabled"
    act_at: int = 0
    act: bytes = b""
    end_after: str = ""
    drip: bytes = b""
    drip_pause: float = 0.5


@dataclasses.dataclass
class RelpConnection:
    """What happened on one connection: the frames it read, in order, the
    answer it gave to each syslog command, by number (200 or 500), and when
    (time.monotonic) it last sent a whole answer, began acting and saw the
    client end the connection."""
    mode: RelpMode
    frames: list = dataclasses.field(default_factory=list)
    answers: dict = dataclasses.field(default_factory=dict)
    last_answer: float = 0.0
    acting: float = 0.0
    ended: float = 0.0

    def syslog(self):
        """The (number, message) of every syslog command read."""
        return [(txnr, data) for txnr, command, data in self.frames if command == b"syslog"]

    def answered(self, code):
        """The messages whose commands it answered with code, in order."""
        return [data for txnr, data in self.syslog() if self.answers.get(txnr) == code]


class RelpServer(AcceptingServer):
    """A RELP server on 127.0.0.1:port, a thread per connection: the n-th
    connection behaves as modes[n] says, later ones as RelpMode() (well).
    connections holds a RelpConnection each, in the order they came."""

    def __init__(self, modes=(), port=SYSLOG_PORT):
        self._modes = list(modes)
        self.connections = []
        self._threads = []
        super().__init__(port)

    def take(self, connection):
        modes, made = self._modes, len(self.connections)
        record = RelpConnection(modes[made] if made < len(modes) else RelpMode())
        self.connections.append(record)
        thread = threading.Thread(target=self._serve, args=(connection, record), daemon=True)
        self._threads.append(thread)
        thread.start()

    def _answers(self, record, frames, acting):
        """What the connection sends for the frames it read, whether that holds
        a whole answer, and whether it acts from now on."""
        mode, out, answered = record.mode, b"", False
        for txnr, command, data in frames:
            record.frames.append((txnr, command, data))
            if acting:
                continue
            if txnr == mode.act_at and command in (b"open", b"syslog"):
                out += mode.act
                acting = True
                continue
            if command == b"open" and mode.open_answer is not None:
                out += relp_frame(mode.open_txnr, b"rsp", mode.open_answer)
            elif command == b"close":
                out += relp_frame(txnr, b"rsp")
            elif command == b"syslog":
                code = 500 if txnr in mode.refused else 200
                record.answers[txnr] = code
                out += relp_frame(txnr, b"rsp", mode.refusal if code == 500 else b"200 OK")
            else:
                continue
            answered = True
        return out, answered, acting

    def _serve(self, connection, record):
        mode, received, acting, dripped = record.mode, b"", False, 0
        connection.settimeout(mode.drip_pause)
        with connection:
            while self._running:
                try:
                    chunk = connection.recv(65536)
                except socket.timeout:
                    chunk = None
                except OSError:
                    break
                if chunk == b"":
                    break
                if chunk:
                    frames, received = relp_frames(received + chunk)
                    out, answered, now_acting = self._answers(record, frames, acting)
                    if answered:
                        # Stamped before it leaves: the client cannot have it earlier.
                        record.last_answer = time.monotonic()
                    try:
                        connection.sendall(out)
                        if now_acting and not acting:
                            record.acting = time.monotonic()
                            if mode.end_after == "reset":
                                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                                      struct.pack("ii", 1, 0))
                                break
                            if mode.end_after == "close":
                                connection.shutdown(socket.SHUT_WR)
                        if any(command == b"close" for _, command, _ in frames):
                            connection.shutdown(socket.SHUT_WR)
                    except OSError:
                        break
                    acting = now_acting
                elif acting and dripped < len(mode.drip):
                    try:
                        connection.sendall(mode.drip[dripped:dripped + 1])
                    except OSError:
                        break
                    dripped += 1
            record.ended = time.monotonic()

    def close(self):
        super().close()
        for thread in self._threads:
            thread.join()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


RSYSLOG_CONF = """\
global(workDirectory="{work}"{tls_files})
{main_queue}module(load="im{module}"{driver})
input(type="im{module}"{address} port="{port}"{framing})
template(name="fields" type="string"
         string="%syslogfacility-text%|%syslogseverity-text%|%timereported:::date-rfc3164%|%hostname%|%syslogtag%|%msg%\\n")
if $inputname == "im{module}" then {{
    action(type="omfile" file="{work}/received.log" template="fields")
}}
"""
# RFC 5425 with rsyslog's OpenSSL driver; x509/certvalid asks for a client
# certificate signed by the CA.
RSYSLOG_TLS_DRIVER = ' StreamDriver.Name="ossl" StreamDriver.Mode="1" StreamDriver.AuthMode="{auth}"'
RSYSLOG_TLS_FILES = (' DefaultNetstreamDriverCAFile="{ca}" DefaultNetstreamDriverCertFile="{cert}"'
                     ' DefaultNetstreamDriverKeyFile="{key}"')
TLS_PORT = 6514
# imrelp inside TLS with OpenSSL (its default GnuTLS refuses OpenSSL's clients).
RELP_TLS_INPUT = ' tls="on" tls.cacert="{ca}" tls.mycert="{cert}" tls.myprivkey="{key}"'


def port_bound(protocol, port):
    """True when something in this network namespace listens on 127.0.0.1:port
    (TCP: in state LISTEN, so that a closed connection on it does not count)."""
    wanted = "0100007F:%04X" % port
    with open("/proc/net/" + protocol) as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return any(row[1] == wanted and (protocol == "udp" or row[3] == "0A") for row in rows)


def _tcp_port_listening(port, address):
    """True when something in this network namespace listens on TCP port
    at address: 127.0.0.1, ::1, or "" for every IPv4 and IPv6 address."""
    found, tables = set(), {"127.0.0.1": ["tcp"], "::1": ["tcp6"]}.get(address, ["tcp", "tcp6"])
    for name in ["/proc/net/" + table for table in tables]:
        with open(name) as table:
            for line in table.readlines()[1:]:
                fields = line.split()
                if fields[1].endswith(":%04X" % port) and fields[3] == "0A":
                    found.add(name)
    return len(found) == len(tables)


class Rsyslog:
    """rsyslogd -n with the template above, over "udp" (imudp) or "tcp"
    (imtcp) on 127.0.0.1, or "tls" (imtcp, RFC 5425) on address ("" for every
    one; tls is then a dict of the PEM paths ca, cert, key and optionally auth),
    or "relp" (imrelp, every address; with tls as for "tls", auth then being
    the name of the client that imrelp's tls.authmode="name" lets in);
    lines_only: newline-ended messages only; direct: no queue between the
    input and the file, so that a message is in the file before imrelp
    answers it. lines() gives what it wrote; kill() and start() stop it hard
    and start it again, writing on to the same file."""

    PROBE = "user|notice|Jan  1 00:00:00|probe|probe:| ready"

    def __init__(self, protocol="udp", port=SYSLOG_PORT, tls=None, address="127.0.0.1",
                 lines_only=False, direct=False):
        self._work = tempfile.TemporaryDirectory()
        work = self._work.name
        self._conf = os.path.join(work, "rsyslog.conf")
        self._protocol, self._port = protocol, port
        module, tls_files, driver = protocol, "", ""
        framing = ' supportOctetCountedFraming="off"' if lines_only else ""
        self._listening = lambda: port_bound(protocol, port)
        if protocol == "tls":
            module, self._listening = "tcp", lambda: _tcp_port_listening(port, address)
            tls_files = RSYSLOG_TLS_FILES.format(**tls)
            driver = RSYSLOG_TLS_DRIVER.format(auth=tls.get("auth", "anon"))
        if protocol == "relp":
            address, self._listening = "", lambda: _tcp_port_listening(port, "")
            if tls:
                driver, framing = ' tls.tlslib="openssl"', RELP_TLS_INPUT.format(**tls)
                if "auth" in tls:
                    framing += ' tls.authmode="name" tls.permittedpeer=["%s"]' % tls["auth"]
        with open(self._conf, "w") as out:
            # A stream peer's queue holds a whole test run: rsyslog drops what it
            # cannot queue within 2 s, which a loaded machine can reach with the
            # default 100,000 messages, and the tests count every line.
            main_queue = 'main_queue(queue.size="1000000")\n' if protocol != "udp" else ""
            if direct:
                main_queue = 'main_queue(queue.type="Direct")\n'
            out.write(RSYSLOG_CONF.format(work=work, tls_files=tls_files, main_queue=main_queue,
                                          module=module, driver=driver, port=port,
                                          address=address and ' address="%s"' % address,
                                          framing=framing))
        self._output = os.path.join(work, "received.log")
        self.start()

    def start(self):
        self._process = subprocess.Popen(
            ["rsyslogd", "-n", "-f", self._conf, "-i", os.path.join(self._work.name, "rsyslogd.pid")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not (wait_until(self._listening, timeout=20) and self._probe(self._protocol, self._port)):
            self.close()
            raise RuntimeError("rsyslogd did not start listening on port %d" % self._port)

    def kill(self, number=signal.SIGKILL):
        """Ends rsyslogd by signal number (SIGTERM: in order) and waits for it."""
        self._process.send_signal(number)
        self._process.wait(timeout=30)
        wait_until(lambda: not self._listening(), timeout=10)

    def _probe(self, protocol, port):
        """rsyslogd binds its port before its input thread reads: wait until a
        probe message has come through, so that a burst is not lost to a
        socket nobody reads yet. Over TLS a connection is only taken once the
        driver is up, and RELP answers what it took, so no probe is needed there."""
        if protocol in ("tls", "relp"):
            return True
        message = b"<13>Jan  1 00:00:00 probe probe: ready"
        for _ in range(100):
            if protocol == "udp":
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
                    probe.sendto(message, ("127.0.0.1", port))
            else:
                with socket.create_connection(("127.0.0.1", port)) as probe:
                    probe.sendall(message + b"\n")  # every imtcp reads newline-ended messages
            if wait_until(lambda: self.PROBE in self._all_lines(), timeout=0.2):
                return True
        return False

    def _all_lines(self):
        try:
            with open(self._output, "rb") as received:
                return received.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []

    def lines(self):
        return [line for line in self._all_lines() if line != self.PROBE]

    def wait_for(self, count, timeout=30.0):
        wait_until(lambda: len(self.lines()) >= count, timeout)
        return self.lines()

    def pause(self):
        """Holds rsyslogd (SIGSTOP): it reads nothing until resume()."""
        self._process.send_signal(signal.SIGSTOP)

    def resume(self):
        self._process.send_signal(signal.SIGCONT)

    def close(self):
        if self._process.poll() is None:
            self.resume()
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

