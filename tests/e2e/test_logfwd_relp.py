# SPDX-License-Identifier: Apache-2.0
"""logfwd over RELP against rsyslog's imrelp, where a line counts as sent once
the server answered it: the fields rsyslog parsed, on the default port;
RELP inside TLS, verified, with a client certificate that imrelp checks by
name, and every way trust fails ending the run before anything is sent;
rsyslogd killed (-9) or restarted in order in the middle of a run, every
line still arriving and none counted that was not stored; the same kill over
plain TCP, whose loss TCP cannot tell; and the slow minute, which must not
look like a server that stopped answering."""
import os
import signal
import sys
import time
import unittest

import harness
from harness import LOGFWD, sent_line, start
from certificates import WithCertificates
from syslog_peers import Rsyslog, wait_until, write_archive, write_settings
from test_logfwd import LogfwdCase

RELP_PORT = 2514  # rsyslog's examples; imrelp has no default
WINDOW = 8192     # the most RELP commands logfwd lets wait for their answers
LINES = [b"Feb  3 10:11:01 ctrl-1 user.warn app[7]: disk: almost full",
         b"Feb  3 10:11:02 ctrl-2 user.info app: started"]
PARSED = ["user|warning|Feb  3 10:11:01|ctrl-1|app[7]:| disk: almost full",
          "user|info|Feb  3 10:11:02|ctrl-2|app:| started"]
ARCHIVE = b"Feb  3 09:00:00 ctrl-0 user.err old[1]: from the archive\n"
ARCHIVE_PARSED = "user|err|Feb  3 09:00:00|ctrl-0|old[1]:| from the archive"


def numbered(count):
    return [b"Jan  1 00:00:00 h user.info t: line %d" % n for n in range(count)]


def numbers_of(lines):
    """The line numbers rsyslog wrote, in the order it wrote them."""
    return [int(line.rsplit(" ", 1)[1]) for line in lines if "| line " in line]


def written_out(rsyslog, count):
    """A test that rsyslogd has written count different lines, or (lines lost)
    wrote nothing since the last look."""
    last = [-1]

    def done():
        lines = numbers_of(rsyslog.lines())
        finished = len(set(lines)) >= count or len(lines) == last[0]
        last[0] = len(lines)
        return finished
    return done


class RelpCase(LogfwdCase):
    def relp_settings(self, protocol="relp", port=RELP_PORT, **keys):
        write_settings("host = 127.0.0.1\nprotocol = %s\n" % protocol + ("port = %d\n" % port if port else "") +
                       "".join("%s = %s\n" % item for item in keys.items()))

    def log_with_archive(self):
        log = self.write_log("messages", LINES)
        write_archive(log + ".1.gz", ARCHIVE)
        return log


class RelpDeliveryTest(WithCertificates, RelpCase):
    """What imrelp parsed, over RELP and RELP inside TLS; and refusals before any line."""

    def rsyslog(self, server="server", client_name=None, port=RELP_PORT):
        """imrelp inside TLS with the server certificate named server (None:
        plain RELP), checking its clients' names when client_name is set."""
        tls = None
        if server:
            tls = {"ca": self.pem["ca.pem"], "cert": self.pem[server + ".pem"],
                   "key": self.pem[server + ".key"]}
        if client_name:
            tls["auth"] = client_name
        return Rsyslog("relp", port, tls=tls)

    def test_rsyslog_parses_the_fields_plain_and_verified_both_ways(self):
        # Plain RELP on the default port (514, as rsyslog's omrelp); inside TLS
        # to imrelp without a check of its clients, then to one that lets in
        # only the client named "client", which logfwd's certificate names.
        log = self.log_with_archive()
        client = dict(cert_file=self.pem["client.pem"], key_file=self.pem["client.key"])
        rows = [("relp", None, None, None, {}),
                ("relp-tls", "server", None, RELP_PORT, {}),
                ("relp-tls", "server", "client", RELP_PORT, client)]
        for protocol, server, client_name, port, keys in rows:
            tls = dict(ca_file=self.pem["ca.pem"], **keys) if server else {}
            with self.subTest(protocol=protocol, client_name=client_name), \
                    self.rsyslog(server, client_name, port or 514) as rsyslog:
                self.relp_settings(protocol, port=port, **tls)
                self.assertEqual(self.logfwd(log, "all"), (sent_line(log + ".1", 1) + sent_line(log, 2), 0))
                self.assertEqual(rsyslog.wait_for(3), [ARCHIVE_PARSED] + PARSED)

    def test_a_refusal_ends_the_run_before_anything_is_sent(self):
        log = self.log_with_archive()
        prefix = "ERROR in TLS connection to 127.0.0.1 port %d: " % RELP_PORT
        # (server certificate, settings, reason)
        cases = [
            ("server", dict(ca_file=self.pem["other-ca.pem"]), "self-signed certificate in certificate chain"),
            ("other-name", dict(ca_file=self.pem["ca.pem"]), "IP address mismatch"),
            ("expired", dict(ca_file=self.pem["ca.pem"]), "certificate has expired"),
        ]
        for server, keys, reason in cases:
            with self.subTest(server=server), self.rsyslog(server) as rsyslog:
                self.relp_settings("relp-tls", **keys)
                self.assertEqual(self.logfwd(log, "all"), (prefix + reason + "\n", 255))
                time.sleep(0.5)  # rsyslog writes what it got within milliseconds
                self.assertEqual(rsyslog.lines(), [])
        self.assertEqual(sorted(os.listdir(self.dir)), ["messages", "messages.1.gz"])


class RelpRestartTest(RelpCase):
    COUNT = 300000

    def restart_in_the_middle(self, protocol, number):
        """logfwd sends COUNT numbered lines while rsyslogd, writing each one
        before it answers, is ended by signal number a third of the way in and
        started again on the same file. Returns logfwd's output and status,
        the numbers in the file when rsyslogd ended, and all of them."""
        log = self.write_log("messages", numbered(self.COUNT))
        if protocol == "relp":
            self.relp_settings()
        else:
            write_settings("host = 127.0.0.1\nprotocol = tcp\n")
        with Rsyslog(protocol, RELP_PORT if protocol == "relp" else 514, direct=True) as rsyslog:
            proc = start(LOGFWD, log)
            self.addCleanup(lambda: proc.poll() is None and proc.kill())
            self.assertTrue(wait_until(lambda: len(rsyslog.lines()) >= self.COUNT // 3, timeout=120, step=0.01))
            rsyslog.kill(number)
            before = numbers_of(rsyslog.lines())
            rsyslog.start()
            out, _ = proc.communicate(timeout=180)
            wait_until(written_out(rsyslog, self.COUNT), timeout=60, step=0.5)
            stored = numbers_of(rsyslog.lines())
        return out.decode().splitlines(), proc.returncode, before, stored

    def assert_nothing_lost(self, number):
        out, status, before, stored = self.restart_in_the_middle("relp", number)
        port = "127.0.0.1 port %d" % RELP_PORT
        log = os.path.join(self.dir, "messages")
        self.assertEqual((out[1:], status), (["Reconnected to " + port,
                                              sent_line(log, self.COUNT).rstrip("\n")], 0))
        self.assertTrue(out[0].startswith("Connection to %s lost: " % port), out)
        # Every line at least once; twice only a line the first rsyslogd had
        # stored without its answer reaching logfwd, a window's worth at most.
        self.assertEqual(set(stored), set(range(self.COUNT)))
        twice = len(stored) - self.COUNT
        self.assertLessEqual(twice, WINDOW)
        counts = {}
        for n in stored:
            counts[n] = counts.get(n, 0) + 1
        self.assertLessEqual({n for n, c in counts.items() if c > 1}, set(before))

    def test_rsyslogd_killed_loses_no_line(self):
        self.assert_nothing_lost(signal.SIGKILL)

    def test_rsyslogd_restarted_in_order_loses_no_line(self):
        self.assert_nothing_lost(signal.SIGTERM)

    def test_the_same_kill_over_tcp_loses_lines_that_count_as_sent(self):
        # What RELP is for: over TCP the lines that rsyslogd's kernel took but
        # rsyslogd never wrote count as sent, and only the file tells.
        out, status, _, stored = self.restart_in_the_middle("tcp", signal.SIGKILL)
        log = os.path.join(self.dir, "messages")
        self.assertEqual((out[1:], status), (["Reconnected to 127.0.0.1 port 514",
                                              sent_line(log, self.COUNT).rstrip("\n")], 0))
        missing = self.COUNT - len(set(stored))
        self.assertLessEqual(set(stored), set(range(self.COUNT)))
        sys.stderr.write("over TCP, %d of %d lines counted as sent never reached the file\n"
                         % (missing, self.COUNT))


class RelpSlowTest(RelpCase):
    @unittest.skipIf(harness.EMULATOR, "libfaketime cannot reach a program run by the emulator")
    def test_the_slow_minute_is_no_stall(self):
        # The stall limit counts from the moment the server owes an answer, not
        # from the last answer before the minute's pause.
        log = self.log_with_archive()
        write_archive(log + ".2.gz", ARCHIVE)
        self.relp_settings()
        with Rsyslog("relp", RELP_PORT) as rsyslog:
            result = harness.run(LOGFWD, log, "all", "slow",
                                 env=dict(os.environ, LD_PRELOAD=harness.FAKETIME, FAKETIME="+0 x60"))
            self.assertEqual((result.stdout.decode(), result.returncode), (
                (sent_line(log + ".2", 1) + "Sleeping 1 min...\n") +
                (sent_line(log + ".1", 1) + "Sleeping 1 min...\n") + sent_line(log, 2), 0))
            self.assertEqual(rsyslog.wait_for(4), [ARCHIVE_PARSED] * 2 + PARSED)


if __name__ == "__main__":
    unittest.main()
