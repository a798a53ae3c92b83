# SPDX-License-Identifier: Apache-2.0
"""Leak checks of whole runs of the real programs: devsim against a private
broker (announcement, acceptance, periodic messages, every kind of request,
SIGTERM) and logfwd with archives (read through zlib), plus
logfwd's early exit and its runs over TLS (a client certificate, and a server
that fails verification).

Each run goes under valgrind's memcheck, which fails it on a definite or
indirect leak or any memory error. In a sanitizer build the programs carry
LeakSanitizer themselves and valgrind cannot run them; there the same runs
are checked by LeakSanitizer instead. Both make the program exit with
LEAK_STATUS and leave a report, which the test shows.
"""
import glob
import os
import shutil
import signal
import subprocess
import unittest

import harness
from broker import Broker
from certificates import make_certificates
from syslog_peers import (Rsyslog, SETTINGS_PATH, TLS_PORT, UdpSink, archive_content,
                          write_archive, write_settings)
from test_devsim import CONTROLLER, FID, WITHDRAWAL, accept, topic, up_messages, up_types
from test_devsim_menus import BAD_REQUESTS, EXCHANGES

LEAK_STATUS = 86
VALGRIND_OPTIONS = [
    "--leak-check=full", "--show-leak-kinds=definite,indirect",
    "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=%d" % LEAK_STATUS,
]
# Small enough to stay quick under valgrind; the megabyte-sized bad requests
# are covered for growth in test_devsim_menus.
SMALL_BAD_REQUESTS = [r for r in BAD_REQUESTS if len(r) < 100000]


class LeakChecked:
    """How to run a program so that a leak fails the run, and its reports."""

    def __init__(self, test, program):
        self.program = program
        self.prefix = os.path.join(harness.scratch_dir(test), "leaks")
        self.sanitized = harness.sanitized(program)
        if not self.sanitized:
            test.assertIsNotNone(shutil.which("valgrind"), "valgrind is missing: scripts/install-deps.sh")

    def argv(self, *args):
        checker = [] if self.sanitized else ["valgrind", "--log-file=%s.%%p" % self.prefix] + VALGRIND_OPTIONS
        return checker + [self.program] + [str(a) for a in args]

    def env(self, **extra):
        env = dict(os.environ, **extra)
        if self.sanitized:
            env["ASAN_OPTIONS"] = "detect_leaks=1:exitcode=%d:log_path=%s" % (LEAK_STATUS, self.prefix)
            env["LSAN_OPTIONS"] = "exitcode=%d" % LEAK_STATUS
        return env

    def reports(self):
        texts = []
        for path in sorted(glob.glob(self.prefix + ".*")):
            with open(path, errors="replace") as report:
                texts.append(report.read())
        return "\n".join(texts)

    def assert_clean(self, test, status, expected_status):
        reports = self.reports()
        test.assertEqual(status, expected_status, reports)
        if self.sanitized:
            test.assertEqual(reports, "")
        else:  # proof that memcheck really ran, and saw nothing
            test.assertIn("ERROR SUMMARY: 0 errors", reports)


@unittest.skipIf(harness.EMULATOR, "valgrind cannot follow a program into qemu-arm, and the cross "
                 "build has no LeakSanitizer; the x86-64 and sanitizer builds run these checks")
class DevsimLeaks(unittest.TestCase):
    def test_full_run_leaks_nothing(self):
        checked = LeakChecked(self, harness.DEVSIM)
        with Broker() as broker:
            everything = broker.recorder()
            replies = broker.recorder(topic("up", 2001))
            trace = open(os.path.join(harness.scratch_dir(self), "trace"), "wb")
            self.addCleanup(trace.close)
            device = subprocess.Popen(checked.argv(FID, "devsim", 1), stdout=subprocess.PIPE,
                                      stderr=trace, env=checked.env(CONTROLLER_FID=CONTROLLER,
                                                                    **broker.client_env()))
            self.addCleanup(lambda: device.poll() is None and device.kill())
            accept(broker, everything)
            everything.wait_for(lambda got: up_types(got).count(3) >= 2, timeout=60)
            requests = [r for r, _, _ in EXCHANGES] * 2 + SMALL_BAD_REQUESTS
            broker.publish_many([(topic("down", 2000), r) for r in requests])
            replies.wait_for(lambda got: len(got) >= len(requests), timeout=120)
            device.send_signal(signal.SIGTERM)
            device.communicate(timeout=120)
            self.assertEqual(up_messages(everything.messages())[-1], (1500, WITHDRAWAL))
        checked.assert_clean(self, device.returncode, 0)


@unittest.skipIf(harness.EMULATOR, "valgrind cannot follow a program into qemu-arm, and the cross "
                 "build has no LeakSanitizer; the x86-64 and sanitizer builds run these checks")
class LogfwdLeaks(unittest.TestCase):
    ARCHIVES = {"messages.1.gz": b"Mar 1 00:00:01 h user.info one: 1\n",
                "messages.12.gz": b"Mar 1 00:00:12 h user.err twelve: 12\nno level word\n"}

    def setUp(self):
        self.assertTrue(harness.in_sandbox(), "run inside tests/e2e/sandbox.sh")
        self.dir = harness.scratch_dir(self)
        self.addCleanup(lambda: os.path.exists(SETTINGS_PATH) and os.remove(SETTINGS_PATH))

    def run_checked(self, *args):
        checked = LeakChecked(self, harness.LOGFWD)
        result = subprocess.run(checked.argv(*args), capture_output=True, env=checked.env(), timeout=300)
        return checked, result

    def test_run_with_archives_leaks_nothing(self):
        write_settings("host = 127.0.0.1\n")
        log = os.path.join(self.dir, "messages")
        with open(log, "wb") as out:
            out.write(b"Mar 2 00:00:00 h user.warn log: now\n")
        for name, content in self.ARCHIVES.items():
            write_archive(os.path.join(self.dir, name), content)
        # A file at an archive's decompressed name is neither read nor sent.
        with open(os.path.join(self.dir, "messages.12"), "wb") as out:
            out.write(b"not sent\n")
        with UdpSink() as sink:
            checked, result = self.run_checked(log, "all")
            self.assertEqual(len(sink.wait_for(4)), 4)
        checked.assert_clean(self, result.returncode, 0)
        for name, content in self.ARCHIVES.items():
            self.assertEqual(archive_content(os.path.join(self.dir, name)), content)

    def test_tls_runs_leak_nothing(self):
        pem = make_certificates(harness.scratch_dir(self))
        log = os.path.join(self.dir, "messages")
        with open(log, "wb") as out:
            out.write(b"Mar 2 00:00:00 h user.warn log: now\n")
        settings = "host = 127.0.0.1\nprotocol = tls\ncert_file = %s\nkey_file = %s\nca_file = %s\n" % (
            pem["client.pem"], pem["client.key"], "%s")
        tls = {"ca": pem["ca.pem"], "cert": pem["server.pem"], "key": pem["server.key"],
               "auth": "x509/certvalid"}
        with Rsyslog("tls", TLS_PORT, tls=tls) as rsyslog:
            write_settings(settings % pem["ca.pem"])
            checked, result = self.run_checked(log)
            checked.assert_clean(self, result.returncode, 0)
            self.assertEqual(len(rsyslog.wait_for(1)), 1)
            write_settings(settings % pem["other-ca.pem"])  # the server fails verification
            checked, result = self.run_checked(log)
            checked.assert_clean(self, result.returncode, 255)

    def test_early_exit_leaks_nothing(self):
        write_settings("port = 514\n")  # no host: the run ends before resolving
        checked, result = self.run_checked(os.path.join(self.dir, "messages"))
        self.assertEqual(result.stdout, b"Impossible to read syslog host from %s file.\n" % SETTINGS_PATH.encode())
        checked.assert_clean(self, result.returncode, 255)


if __name__ == "__main__":
    unittest.main()
