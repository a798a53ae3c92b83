# SPDX-License-Identifier: Apache-2.0
"""logfwd end to end, run by the real binary against a UDP sink or rsyslogd
(UDP and TCP) on 127.0.0.1: usage and exit statuses, the settings file,
resolution and connection, the datagrams and frames, pacing, the archive
pass and slow mode."""
import os
import re
import shlex
import shutil
import socket
import subprocess
import time
import unittest
from pathlib import Path

import harness
from harness import LOGFWD, run, run_logfwd, sent_line
from syslog_peers import (Rsyslog, SETTINGS_PATH, UdpSink, archive_content, wait_until,
                          write_archive, write_settings)

USAGE = ("Usage: {program} filename [all] [all slow]\n"
         "\tfilename: path of the file that contains the logs to send\n"
         "\tall: sends also the logs that are in associated archive files\n"
         "\tslow; sleeps 60 seconds between each archive file to be able to read all of "
         "them in Syslog Watcher\n")

LOG_LINES = [
    b"Jan 12 06:30:01 ctrl user.warn app[42]: disk almost full",
    b"Jan  5 06:30:02 ctrl user.info app: a: b @@@UnfindableSeparator@@@ c\r",
    b"",
    b"no separators at all",
    b"Jan 12 06:30:03 ctrl user.err app: \x00\xff\xfe bytes",
    b"\xc3\x28\xa0\xa1 invalid utf-8",
    b"Jan 1 00:00:00 h user.err t: " + bytes(range(1, 10)),
    b"\x00",
]
LOG_DATAGRAMS = [
    b"<12>Jan 12 06:30:01 ctrl app[42]: disk almost full",
    b"<14>Jan  5 06:30:02 ctrl app: a: b @@@UnfindableSeparator@@@ c\r",
    b"<15>",
    b"<15>no separators at all",
    b"<11>Jan 12 06:30:03 ctrl app: \x00\xff\xfe bytes",
    b"<15>\xc3\x28\xa0\xa1 invalid utf-8",
    b"<11>Jan 1 00:00:00 h t: " + bytes(range(1, 10)),
    b"<15>\x00",
]


class LogfwdCase(unittest.TestCase):
    """A scratch folder, settings pointing at 127.0.0.1 and a UDP sink."""

    def setUp(self):
        self.assertTrue(harness.in_sandbox(), "run inside tests/e2e/sandbox.sh")
        self.dir = harness.scratch_dir(self)
        write_settings("host = 127.0.0.1\n")
        self.addCleanup(lambda: os.path.exists(SETTINGS_PATH) and os.remove(SETTINGS_PATH))
        self.sink = UdpSink()
        self.addCleanup(self.sink.close)

    def write_log(self, name, lines):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as out:
            out.write(b"".join(line + b"\n" for line in lines))
        return path

    def logfwd(self, *args, **kwargs):
        return run_logfwd(*args, **kwargs)

    def assert_run(self, args, stdout, status):
        self.assertEqual(self.logfwd(*args), (stdout, status), args)


class UsageTest(LogfwdCase):
    def test_usage_and_status_1(self):
        usage = USAGE.format(program=LOGFWD)
        for args in ([], ["-h"], ["--help"], ["-h", "log", "all", "slow"], ["--help", "x"]):
            result = run(LOGFWD, *args)
            self.assertEqual((result.stdout.decode(), result.stderr, result.returncode),
                             (usage, b"", 1), args)
        self.assertEqual(self.sink.settle(), [])


class SettingsTest(LogfwdCase):
    def test_settings_failures_end_with_255_before_sending(self):
        log = self.write_log("messages", LOG_LINES)
        missing = "Setting file /etc/orvane/syslog_settings is missing.\n"
        no_host = "Impossible to read syslog host from /etc/orvane/syslog_settings file.\n"
        no_address = "ERROR in getting info for socket opening\n"
        cases = [
            (None, missing),
            ("port = 514\n# host = 127.0.0.1\nhostname = 127.0.0.1\n", no_host),
            ("host = no-such-host.invalid\n", no_address),
            ("host =\n", no_address),
            ("host = 127.0.0.1 x\n", no_address),
            ("host = 127.0.0.1\nprotocol = tcp\nport = 515\n",
             "ERROR in connecting to 127.0.0.1 port 515: Connection refused\n"),
            ("host = 127.0.0.1\nca_file = /" + "d/" * 2045 + "\n",
             "Line 2 of /etc/orvane/syslog_settings is too long\n"),
            ("host = 127.0.0.1\nPROTOCOL = tls\n", 'Unknown key "PROTOCOL" in '
             '/etc/orvane/syslog_settings (did you mean "protocol"?)\n'),
        ]
        for key, value in (("protocol", "udpp"), ("protocol", "TCP"), ("protocol", "RELP"),
                           ("protocol", "relp_tls"), ("port", "0"),
                           ("port", "70000"), ("port", "5x"), ("port", ""), ("rate", "-1"),
                           ("rate", "fast"), ("rate", "1e3"), ("framing", "LF")):
            cases.append(("host = 127.0.0.1\nprotocol = tcp\n%s = %s\n" % (key, value),
                          'Invalid value "%s" for %s in /etc/orvane/syslog_settings\n'
                          % (value, key)))
        archive = Path(log + ".1.gz")
        write_archive(archive, LOG_LINES[0])
        archive_bytes = archive.read_bytes()
        for settings, message in cases:
            if settings is None:
                os.remove(SETTINGS_PATH)
            else:
                write_settings(settings)
            self.assert_run([log, "all"], message, 255)
            self.assertEqual(sorted(os.listdir(self.dir)), ["messages", "messages.1.gz"])
            self.assertEqual(archive.read_bytes(), archive_bytes)
        os.remove(SETTINGS_PATH)
        os.mkdir(SETTINGS_PATH)
        self.addCleanup(os.rmdir, SETTINGS_PATH)
        self.assert_run([log], missing, 255)
        self.assertEqual(self.sink.settle(), [])

    def test_settings_layout(self):
        log = self.write_log("messages", [b"x"])
        write_settings("; syslog receiver\n[syslog]\n   host   =   127.0.0.1   \n")
        self.assert_run([log], sent_line(log, 1), 0)
        self.assertEqual(self.sink.wait_for(1), [b"<15>x"])

    def test_a_tcp_server_that_does_not_answer(self):
        # A listener whose backlog is full drops the handshake: connecting gives
        # up after a few seconds, not after the kernel's two minutes.
        log = self.write_log("messages", [b"x"])
        listener = socket.socket()
        listener.bind(("127.0.0.1", 1515))
        listener.listen(0)
        waiting = [socket.socket() for _ in range(3)]
        for client in waiting:
            client.setblocking(False)
            client.connect_ex(("127.0.0.1", 1515))
        write_settings("host = 127.0.0.1\nprotocol = tcp\nport = 1515\n")
        self.assertEqual(self.logfwd(log, timeout=30),
                         ("ERROR in connecting to 127.0.0.1 port 1515: Connection timed out\n", 255))
        for sock in waiting + [listener]:
            sock.close()

    def test_port_for_udp(self):
        log = self.write_log("messages", [b"x"])
        write_settings("host = 127.0.0.1\nport = 5514\n")
        with UdpSink(port=5514) as other:
            self.assert_run([log], sent_line(log, 1), 0)
            self.assertEqual(other.wait_for(1), [b"<15>x"])
        self.assertEqual(self.sink.settle(), [])

    def test_ipv6_host(self):
        log = self.write_log("messages", LOG_LINES[:1])
        for host in ("::1", "[::1]"):
            write_settings("host = %s\n" % host)
            with UdpSink("::1") as sink6:
                self.assert_run([log], sent_line(log, 1), 0)
                self.assertEqual(sink6.wait_for(1), LOG_DATAGRAMS[:1])


class DatagramTest(LogfwdCase):
    def test_one_datagram_per_line_byte_for_byte(self):
        log = self.write_log("messages", LOG_LINES)
        self.assert_run([log], sent_line(log, len(LOG_LINES)), 0)
        self.assertEqual(self.sink.wait_for(len(LOG_DATAGRAMS)), LOG_DATAGRAMS)

    def test_log_file_that_cannot_be_opened(self):
        for path in (os.path.join(self.dir, "missing"), self.dir):
            self.assert_run([path, "all"], "Impossible to open the file %s in Read Mode\n" % path, 0)
        self.assertEqual(self.sink.settle(), [])


class RsyslogTest(LogfwdCase):
    def test_rsyslog_parses_the_fields_of_the_original_lines(self):
        # Over UDP and over TCP (another port): octet-counted frames, to localhost
        # (::1 refused, then 127.0.0.1), and newline-ended ones to a newline reader.
        self.sink.close()
        harness.debian_hosts(self)
        levels = [("user.emerg", "emerg"), ("user.alert", "alert"), ("user.err", "err"),
                  ("user.warn", "warning"), ("user.notice", "notice"), ("user.info", "info"),
                  ("user.debug", "debug"), ("user.crit", "debug"), ("daemon.err", "debug"),
                  ("USER.INFO", "debug")]
        lines = [("Feb  3 10:11:%02d ctrl-%d %s app%d[7]: message %d: with colon"
                  % (n, n, word, n, n)).encode() for n, (word, _) in enumerate(levels)]
        expected = ["user|%s|Feb  3 10:11:%02d|ctrl-%d|app%d[7]:| message %d: with colon"
                    % (severity, n, n, n, n) for n, (_, severity) in enumerate(levels)]
        log = self.write_log("messages", lines)
        for protocol, port, host, framing in (("udp", 514, "127.0.0.1", "octet-counting"),
                                              ("tcp", 1514, "localhost", "octet-counting"),
                                              ("tcp", 1514, "127.0.0.1", "lf")):
            write_settings("host = %s\nprotocol = %s\nport = %d\nframing = %s\n"
                           % (host, protocol, port, framing))
            with self.subTest(protocol=protocol, host=host, framing=framing), \
                    Rsyslog(protocol, port, lines_only=framing == "lf") as rsyslog:
                self.assert_run([log], sent_line(log, len(lines)), 0)
                self.assertEqual(rsyslog.wait_for(len(expected)), expected)

    def test_default_pacing_lets_rsyslog_take_every_line(self):
        # Unpaced, a default rsyslog received well under half of such a burst here.
        self.sink.close()
        lines = [b"Feb  3 10:11:12 ctrl user.info app: line %d" % n for n in range(3000)]
        log = self.write_log("messages", lines)
        with Rsyslog() as rsyslog:
            self.assert_run([log], sent_line(log, len(lines)), 0)
            received = rsyslog.wait_for(len(lines))
        self.assertEqual(len(received), len(lines))
        self.assertEqual(received, ["user|info|Feb  3 10:11:12|ctrl|app:| line %d" % n
                                    for n in range(len(lines))])


class ArchiveTest(LogfwdCase):
    ARCHIVES = {"messages.1.gz": b"Mar 1 00:00:01 h user.info one: 1\n",
                "messages.2.gz": b"Mar 1 00:00:02 h user.info two: 2\n",
                "messages.10.gz": b"Mar 1 00:00:10 h user.info ten: 10a\n"
                                  b"Mar 1 00:00:10 h user.info ten: 10b\n"}

    def setUp(self):
        super().setUp()
        self.log = self.write_log("messages", [b"Mar 2 00:00:00 h user.warn log: now"])
        for name, content in self.ARCHIVES.items():
            write_archive(os.path.join(self.dir, name), content)
        with open(os.path.join(self.dir, "messages.3"), "wb") as out:
            out.write(b"not an archive\n")
        self.before = self.archives()

    def archives(self):
        return {name: archive_content(os.path.join(self.dir, name)) for name in self.ARCHIVES}

    def assert_archives_as_before(self):
        self.assertEqual(sorted(os.listdir(self.dir)),
                         sorted(list(self.ARCHIVES) + ["messages", "messages.3"]))
        self.assertEqual(self.archives(), self.before)

    def archive_path(self, number):
        return os.path.join(self.dir, "messages.%d" % number)

    def test_archives_highest_number_first_then_the_log(self):
        stdout = (sent_line(self.archive_path(10), 2) + sent_line(self.archive_path(2), 1) +
                  sent_line(self.archive_path(1), 1) + sent_line(self.log, 1))
        self.assert_run([self.log, "all"], stdout, 0)
        self.assertEqual(self.sink.wait_for(5), [
            b"<14>Mar 1 00:00:10 h ten: 10a", b"<14>Mar 1 00:00:10 h ten: 10b",
            b"<14>Mar 1 00:00:02 h two: 2", b"<14>Mar 1 00:00:01 h one: 1",
            b"<12>Mar 2 00:00:00 h log: now"])
        self.assert_archives_as_before()

    def test_no_archive_is_touched_when_the_server_cannot_be_reached(self):
        write_settings("host = 127.0.0.1\nprotocol = tcp\n")
        self.assert_run([self.log, "all"],
                        "ERROR in connecting to 127.0.0.1 port 514: Connection refused\n", 255)
        self.assert_archives_as_before()

    def test_flags_are_positional_and_exact(self):
        for flags in (["slow"], ["x", "slow"], ["ALL"], ["All", "slow"], ["x", "all"]):
            self.assert_run([self.log] + flags, sent_line(self.log, 1), 0)
        self.assertEqual(self.sink.wait_for(5), [b"<12>Mar 2 00:00:00 h log: now"] * 5)
        self.assert_archives_as_before()

    def test_extra_arguments_are_ignored(self):
        stdout = "".join(sent_line(p, n) for p, n in (
            (self.archive_path(10), 2), (self.archive_path(2), 1), (self.archive_path(1), 1),
            (self.log, 1)))
        self.assert_run([self.log, "all", "fast", "slow", "more"], stdout, 0)
        self.assert_archives_as_before()

    @unittest.skipIf(harness.EMULATOR, "libfaketime cannot reach a program run by the emulator; "
                     "the interrupted slow runs of test_logfwd_faults show the pause in real time")
    def test_slow_mode_pauses_after_every_archive(self):
        stdout = "".join(sent_line(p, n) + "Sleeping 1 min...\n" for p, n in (
            (self.archive_path(10), 2), (self.archive_path(2), 1), (self.archive_path(1), 1)))
        started = time.monotonic()
        result = run(LOGFWD, self.log, "all", "slow",
                     env=dict(os.environ, LD_PRELOAD=harness.FAKETIME, FAKETIME="+0 x60"))
        elapsed = time.monotonic() - started
        self.assertEqual((result.stdout.decode(), result.returncode),
                         (stdout + sent_line(self.log, 1), 0), result.stderr.decode())
        # three minutes of the program's time, one second each in real time
        self.assertGreater(elapsed, 2.5)
        self.assert_archives_as_before()


class SlowWithoutArchivesTest(LogfwdCase):
    def test_no_archive_means_no_pause(self):
        log = self.write_log("messages", [b"x"])
        self.assert_run([log, "all", "slow"], sent_line(log, 1), 0)


class TerminalTest(LogfwdCase):
    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", os.path.join(self.dir, "tmux"), "-f", "/dev/null"] +
                              list(args), capture_output=True, text=True, check=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p").rstrip("\n").split("\n")

    def test_a_progress_line_while_sending_none_left_and_stdout_unchanged(self):
        write_settings("host = 127.0.0.1\nrate = 20\n")  # 1.5 s for the log file: seen
        log = self.write_log("messages", [b"x"] * 30)
        write_archive(log + ".1.gz", b"y\n" * 5)
        stdout = sent_line(log + ".1", 5) + sent_line(log, 30)
        logfwd, to_file = shlex.join(harness.command(LOGFWD, log, "all")), os.path.join(self.dir, "out")
        # Standard output in a file, then on the terminal as well.
        self.tmux("new-session", "-d", "-x", "200", "-y", "50",
                  "%s > %s; %s; echo status $?; read x" % (logfwd, to_file, logfwd))
        self.addCleanup(self.tmux, "kill-server")
        self.assertTrue(wait_until(lambda: len(self.screen()) == 2))
        self.assertEqual(self.screen()[0], stdout.split("\n")[0])
        self.assertRegex(self.screen()[1], r"^%s: \d+ lines, 100%% of 60 B" % re.escape(log))
        self.assertTrue(wait_until(lambda: self.screen()[-1] == "status 0"))
        self.assertEqual(self.screen(), stdout.splitlines() + ["status 0"])
        with open(to_file) as out:
            self.assertEqual(out.read(), stdout)


if __name__ == "__main__":
    unittest.main()
