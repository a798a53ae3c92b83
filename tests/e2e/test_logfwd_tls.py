# SPDX-License-Identifier: Apache-2.0
"""logfwd over TLS (RFC 5425) against rsyslog's OpenSSL stream driver on
port 6514, with certificates that the tests make: the fields rsyslog parsed,
a client certificate, and every way trust can fail (its line, exit status
255, nothing received, the archives untouched); and against openssl s_server
as TLS 1.3 servers that decide after the handshake (no session ticket, a
refused client certificate, a close_notify after every handshake)."""
import os
import shutil
import subprocess
import time
import unittest

import harness
from harness import LOGFWD, run_logfwd, sent_line
from certificates import WithCertificates
from syslog_peers import (Rsyslog, SETTINGS_PATH, TLS_PORT, port_bound, wait_until,
                          write_archive, write_settings)

LINES = [b"Feb  3 10:11:01 ctrl-1 user.warn app[7]: disk: almost full",
         b"Feb  3 10:11:02 ctrl-2 user.info app: started"]
PARSED = ["user|warning|Feb  3 10:11:01|ctrl-1|app[7]:| disk: almost full",
          "user|info|Feb  3 10:11:02|ctrl-2|app:| started"]
ARCHIVE = b"Feb  3 09:00:00 ctrl-0 user.err old[1]: from the archive\n"


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


class TlsCase(WithCertificates, unittest.TestCase):
    """Certificates made once for all tests; a log file with one archive."""

    def setUp(self):
        self.assertTrue(harness.in_sandbox(), "run inside tests/e2e/sandbox.sh")
        self.dir = harness.scratch_dir(self)
        self.log = os.path.join(self.dir, "messages")
        with open(self.log, "wb") as out:
            out.write(b"".join(line + b"\n" for line in LINES))
        self.archive = self.log + ".1.gz"
        write_archive(self.archive, ARCHIVE)
        self.addCleanup(lambda: os.path.exists(SETTINGS_PATH) and os.remove(SETTINGS_PATH))

    def rsyslog(self, server="server", auth="anon", address="127.0.0.1"):
        peer = Rsyslog("tls", TLS_PORT, tls={"ca": self.pem["ca.pem"],
                                             "cert": self.pem[server + ".pem"],
                                             "key": self.pem[server + ".key"], "auth": auth},
                       address=address)
        self.addCleanup(peer.close)
        return peer

    def settings(self, host="127.0.0.1", **keys):
        text = "host = %s\nprotocol = tls\n" % host
        text += "".join("%s = %s\n" % item for item in keys.items())
        write_settings(text)

    def logfwd(self, *args):
        return run_logfwd(*args)

    def assert_delivered(self, rsyslog):
        self.assertEqual(self.logfwd(self.log, "all"),
                         (sent_line(self.archive[:-3], 1) + sent_line(self.log, 2), 0))
        expected = ["user|err|Feb  3 09:00:00|ctrl-0|old[1]:| from the archive"] + PARSED
        self.assertEqual(rsyslog.wait_for(len(expected)), expected)


class TlsDeliveryTest(TlsCase):
    def test_rsyslog_parses_the_fields_on_the_default_port(self):
        # A name: SNI and the DNS check. localhost is ::1 first: a refusal there is
        # the verdict, though 127.0.0.1 would pass; once ::1 refuses connections,
        # 127.0.0.1 is tried.
        harness.debian_hosts(self)
        rsyslog = self.rsyslog()
        self.settings(host="localhost", ca_file=self.pem["ca.pem"])
        with self.rsyslog("expired", address="::1"):
            self.assertEqual(self.logfwd(self.log), ("ERROR in TLS connection to localhost port "
                                                     "6514: certificate has expired\n", 255))
        self.assert_delivered(rsyslog)

    def test_client_certificate_for_a_server_that_requires_one(self):
        rsyslog = self.rsyslog(auth="x509/certvalid", address="::1")
        self.settings(host="[::1]", port=6514, ca_file=self.pem["ca.pem"],
                      cert_file=self.pem["client.pem"], key_file=self.pem["client.key"])
        self.assert_delivered(rsyslog)


class OpensslServerTest(TlsCase):
    def s_server(self, options, hang_up):
        """openssl s_server on port 6514, TLS 1.3 without session tickets; it hangs
        up after every handshake when its standard input is at its end."""
        server = subprocess.Popen(
            ["openssl", "s_server", "-quiet", "-tls1_3", "-num_tickets", "0", "-naccept", "10",
             "-accept", "127.0.0.1:%d" % TLS_PORT, "-cert", self.pem["server.pem"],
             "-key", self.pem["server.key"], "-CAfile", self.pem["ca.pem"]] + options,
            stdin=subprocess.DEVNULL if hang_up else subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: server.poll() is None and server.kill())
        self.assertTrue(wait_until(lambda: port_bound("tcp", TLS_PORT), timeout=20))
        return server

    def test_servers_that_decide_after_the_handshake(self):
        self.maxDiff = None
        frames = b"".join(b"%d %s" % (len(m), m) for m in (
            b"<12>Feb  3 10:11:01 ctrl-1 app[7]: disk: almost full",
            b"<14>Feb  3 10:11:02 ctrl-2 app: started"))
        ask = ["-Verify", "1", "-verify_return_error"]
        lost = "Connection to 127.0.0.1 port 6514 lost: closed by the server\n"
        # (server options, hangs up, client certificate, output, status, received)
        cases = [
            (ask, False, "client", sent_line(self.log, 2), 0, frames),
            (ask, False, "other-ca-server", "ERROR in TLS connection to 127.0.0.1 port 6514: "
             "tlsv1 alert unknown ca (SSL alert number 48)\n", 255, b""),
            # A close_notify after each handshake: 5 reconnections, and nothing counts as sent.
            ([], True, None, lost + ("Reconnected to 127.0.0.1 port 6514\n" + lost) * 5 +
             sent_line(self.log, 0) + "Failed to send 2 logs from %s file: closed by the server\n"
             % self.log, 0, b""),
        ]
        for options, hang_up, client, output, status, received in cases:
            with self.subTest(options=options, hang_up=hang_up, client=client):
                server = self.s_server(options, hang_up)
                keys = {}
                if client:
                    keys = dict(cert_file=self.pem[client + ".pem"],
                                key_file=self.pem[client + ".key"])
                self.settings(ca_file=self.pem["ca.pem"], **keys)
                started = time.monotonic()
                self.assertEqual(self.logfwd(self.log), (output, status))
                # The verdict of a server that sends no session ticket comes within
                # a fraction of a second, not at the handshake's 5 s limit.
                if not hang_up:
                    self.assertLess(time.monotonic() - started, 4)
                server.kill()
                self.assertEqual(server.communicate()[0], received)


class TlsFailureTest(TlsCase):
    def test_every_failure_ends_with_255_before_anything_is_sent(self):
        ca = self.pem["ca.pem"]
        missing = os.path.join(self.dir, "missing.pem")
        fifo = os.path.join(harness.scratch_dir(self), "fifo.pem")  # would block a plain open
        os.mkfifo(fifo)
        shared_key = os.path.join(harness.scratch_dir(self), "shared.key")
        shutil.copy(self.pem["client.key"], shared_key)
        os.chmod(shared_key, 0o640)
        prefix = "ERROR in TLS connection to %s port 6514: "
        # (server certificate, server auth, settings, reason)
        cases = [
            ("expired", "anon", dict(ca_file=ca), "certificate has expired"),
            ("other-name", "anon", dict(host="localhost", ca_file=ca), "hostname mismatch"),
            ("other-name", "anon", dict(ca_file=ca), "IP address mismatch"),
            ("other-ca-server", "anon", dict(ca_file=ca), "unable to get local issuer certificate"),
            ("server", "anon", dict(ca_file=self.pem["other-ca.pem"]),
             "self-signed certificate in certificate chain"),
            ("server", "anon", dict(), "self-signed certificate in certificate chain"),
            ("server", "x509/certvalid", dict(ca_file=ca),
             "tlsv13 alert certificate required (SSL alert number 116)"),
            ("server", "x509/certvalid",
             dict(ca_file=ca, cert_file=self.pem["other-ca-server.pem"],
                  key_file=self.pem["other-ca-server.key"]),
             "tlsv1 alert unknown ca (SSL alert number 48)"),
            ("server", "anon", dict(ca_file=missing),
             "ca_file %s: No such file or directory" % missing),
            ("server", "anon", dict(ca_file=self.dir), "ca_file %s: Is a directory" % self.dir),
            ("server", "anon", dict(ca_file=fifo), "ca_file %s: not a regular file" % fifo),
            ("server", "anon", dict(ca_file=self.pem["ca.key"]),
             "ca_file %s: no certificate or crl found" % self.pem["ca.key"]),
            ("server", "anon", dict(ca_file=ca, cert_file=self.pem["client.pem"],
                                    key_file=self.pem["stray.key"]),
             "key_file %s: key values mismatch" % self.pem["stray.key"]),
            ("server", "anon", dict(ca_file=ca, cert_file=self.pem["client.pem"],
                                    key_file=missing),
             "key_file %s: No such file or directory" % missing),
            ("server", "anon", dict(ca_file=ca, cert_file=self.pem["client.pem"]),
             "cert_file without key_file"),
            ("server", "anon", dict(ca_file=ca, cert_file=self.pem["client.pem"],
                                    key_file=shared_key),
             "key_file %s is readable by others (chmod 600)" % shared_key),
        ]
        archive_bytes = read_bytes(self.archive)
        by_server = {}
        for server, auth, keys, reason in cases:
            by_server.setdefault((server, auth), []).append((keys, reason))
        for (server, auth), server_cases in by_server.items():
            with self.rsyslog(server, auth) as rsyslog:
                for keys, reason in server_cases:
                    host = keys.get("host", "127.0.0.1")
                    self.settings(**dict(keys, host=host))
                    self.assertEqual(self.logfwd(self.log, "all"),
                                     (prefix % host + reason + "\n", 255), (server, auth, keys))
                    self.assertEqual(read_bytes(self.archive), archive_bytes)
                    self.assertEqual(sorted(os.listdir(self.dir)), ["messages", "messages.1.gz"])
                time.sleep(0.5)  # rsyslog writes what it got within milliseconds
                self.assertEqual(rsyslog.lines(), [], (server, auth))

    def test_a_reconnection_is_verified_again(self):
        count = 1000000
        with open(self.log, "wb") as out:
            out.writelines(b"Feb  3 10:11:01 ctrl user.info app: line %d\n" % n
                           for n in range(count))
        self.settings(ca_file=self.pem["ca.pem"])
        first = self.rsyslog()
        logfwd = harness.start(LOGFWD, self.log)
        self.addCleanup(lambda: logfwd.poll() is None and logfwd.kill())
        self.assertTrue(wait_until(lambda: len(first.lines()) >= 1000, timeout=60))
        first.close()
        # Back on the same port, but with a certificate that has expired.
        second = self.rsyslog("expired")
        stdout, _ = logfwd.communicate(timeout=120)
        lines = stdout.decode().splitlines()
        self.assertEqual(len(lines), 4, lines)
        self.assertTrue(lines[0].startswith("Connection to 127.0.0.1 port 6514 lost: "), lines)
        self.assertEqual(lines[1], "ERROR in TLS connection to 127.0.0.1 port 6514: "
                                   "certificate has expired")
        sent = int(lines[2].split()[2])
        self.assertEqual(lines[2] + "\n", sent_line(self.log, sent))
        # Every line is counted once: sent, or failed once the server no longer passed.
        self.assertTrue(lines[3].startswith("Failed to send %d logs from %s file: "
                                            % (count - sent, self.log)), lines)
        self.assertGreater(count - sent, 0)
        self.assertEqual(logfwd.returncode, 0)
        self.assertEqual(second.lines(), [])


if __name__ == "__main__":
    unittest.main()
