# SPDX-License-Identifier: Apache-2.0
"""logfwd end to end when things go wrong: a failed send, a TCP server that
stops reading, a connection broken under a live rsyslog, an exception in the
middle of the archive pass, FIFOs, and archives wherever they lie
(read-only, full disk, not writable, damaged, a file at the decompressed
name), which are read without touching them. After every run each archive is
as it was."""
import hashlib
import os
import resource
import shutil
import signal
import subprocess
import time
import unittest
import zlib

import harness
from harness import LOGFWD, sent_line, start
from certificates import make_certificates
from syslog_peers import (Rsyslog, StallingServer, TcpServer, TLS_PORT, archive_content, frames,
                          wait_until, write_archive, write_settings)
from test_logfwd import LogfwdCase


class FaultCase(LogfwdCase):
    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, content):
        with open(self.path(name), "wb") as out:
            out.write(content)
        return self.path(name)


class SendFailureTest(FaultCase):
    def test_a_line_too_long_for_a_datagram_is_counted_as_failed(self):
        log = self.write("messages", b"a\n" + b"x" * 100 * 1024 + b"\nb\n")
        self.assertEqual(self.logfwd(log), (
            sent_line(log, 2) + "Failed to send 1 logs from %s file: Message too long\n" % log, 0))
        self.assertEqual(self.sink.wait_for(2), [b"<15>a", b"<15>b"])

    def test_a_refused_address_gives_way_to_the_next_and_the_last_refusal_fails_the_rest(self):
        # The kernel tells of a refusal at the send after the one that drew it.
        harness.debian_hosts(self)  # localhost: ::1 first, where nobody listens
        lines = [b"line %d" % n for n in range(200)]
        log = self.write_log("messages", lines)
        for host, port in (("localhost", 514), ("127.0.0.1", 5515)):
            with self.subTest(host=host, port=port):
                first = len(self.sink.settle())
                write_settings("host = %s\nport = %d\n" % (host, port))
                out, status = self.logfwd(log)
                arrived = self.sink.settle()[first:]
                report = out.splitlines()
                sent = int(report[0].split()[2])
                self.assertEqual(report[0] + "\n", sent_line(log, sent))
                self.assertEqual(status, 0)
                if port == 514:
                    # ::1 took the first datagram and refused the second, which
                    # 127.0.0.1 got: every line from there on arrives.
                    self.assertEqual(report, [report[0]])
                    self.assertGreaterEqual(len(arrived), 195)
                    self.assertLessEqual(sent - len(arrived), 1)
                    self.assertEqual(arrived, [b"<15>" + line for line in lines[len(lines) - len(arrived):]])
                else:
                    self.assertEqual((report[1:], arrived), (["Failed to send %d logs from %s file: "
                                                              "Connection refused" % (200 - sent, log)], []))
                    self.assertLessEqual(sent, 1)


def reject_port_514(action, *match):
    """Adds (-I) or deletes (-D) an iptables rule that answers segments to
    port 514 with a reset: the sender's end breaks, the server's stays."""
    subprocess.run(["iptables", action, "INPUT", "-p", "tcp", "--dport", "514"] + list(match) +
                   ["-j", "REJECT", "--reject-with", "tcp-reset"], check=True)


def rule_matched(word):
    """True once the INPUT rule whose line holds word has matched a packet."""
    rules = subprocess.run(["iptables", "-L", "INPUT", "-v", "-x", "-n"], capture_output=True,
                           text=True, check=True).stdout.splitlines()
    return any(word in rule and int(rule.split()[0]) > 0 for rule in rules[2:])


class TcpBreakTest(FaultCase):
    COUNT = 200000

    def write_lines(self):
        lines = [b"Jan  1 00:00:00 h user.info t: line %d" % n for n in range(self.COUNT)]
        write_settings("host = 127.0.0.1\nprotocol = tcp\n")
        return self.write_log("messages", lines), lines

    def test_a_server_that_stops_reading_ends_the_run_in_bounded_time(self):
        log, lines = self.write_lines()
        server = TcpServer(read_at_most=100000)  # then reads no more, and takes no new connection
        self.addCleanup(server.close)
        out, status = self.logfwd(log, timeout=120)
        out = out.splitlines()
        sent = int(out[1].split()[2])
        stall = "no progress for 30 s"
        self.assertEqual((out, status), ([
            "Connection to 127.0.0.1 port 514 lost: " + stall, sent_line(log, sent).rstrip("\n"),
            "Failed to send %d logs from %s file: %s" % (self.COUNT - sent, log, stall)], 0))
        # Sent: no more than the server's TCP acknowledged, at least what it read.
        stream = b"".join(b"%d <14>%s" % (len(l) - 6, l.replace(b"user.info ", b"")) for l in lines)
        self.assertLessEqual(sent, len(frames(stream[:server.acknowledged()])[0]))
        self.assertGreaterEqual(sent, len(server.messages()))

    def stops_reading_on_every_connection(self, protocol, port, tls=None):
        """logfwd against a StallingServer: two stalls end the sending for the run."""
        count = 150000
        lines = [b"Jan  1 00:00:00 h user.info t: line %d" % n for n in range(count)]
        log = self.write_log("messages", lines)
        extra = "ca_file = %s\n" % tls["ca"] if tls else ""
        write_settings("host = 127.0.0.1\nprotocol = %s\n%s" % (protocol, extra))
        server = StallingServer(port, tls)
        self.addCleanup(server.close)
        out, status = self.logfwd(log, timeout=180)  # the sending ends within 3 minutes
        out = out.splitlines()
        sent = int(out[3].split()[2])
        lost = "Connection to 127.0.0.1 port %d lost: no progress for 30 s" % port
        self.assertEqual((out, status), ([
            lost, "Reconnected to 127.0.0.1 port %d" % port, lost, sent_line(log, sent).rstrip("\n"),
            "Failed to send %d logs from %s file: the server stopped reading (no progress for 30 s, "
            "2 times in this run)" % (count - sent, log)], 0))
        # Over TCP the first connection's kernel took some lines; under TLS a
        # line counts once every record of its write is acknowledged, more than
        # that kernel takes.
        if protocol == "tcp":
            self.assertGreater(sent, 0)
        self.assertEqual(len(server.connections), 2)

    def test_a_server_that_stops_reading_on_every_connection_ends_the_run(self):
        self.stops_reading_on_every_connection("tcp", 514)

    def test_a_tls_server_that_stops_reading_on_every_connection_ends_the_run(self):
        folder = harness.scratch_dir(self)
        pem = make_certificates(folder)
        self.stops_reading_on_every_connection("tls", TLS_PORT, {
            "ca": pem["ca.pem"], "cert": pem["server.pem"], "key": pem["server.key"]})

    def test_a_server_that_stalls_once_gets_every_line(self):
        # rsyslogd held for 40 s: its kernel still takes connections and what
        # their buffers hold. logfwd gives the first connection up after 30 s,
        # makes a new one, and sends every line once rsyslogd reads again.
        log, lines = self.write_lines()
        with Rsyslog("tcp") as rsyslog:
            proc = start(LOGFWD, log)
            self.addCleanup(lambda: proc.poll() is None and proc.kill())
            self.assertTrue(wait_until(lambda: len(rsyslog.lines()) >= 1000, timeout=60))
            rsyslog.pause()
            time.sleep(40)
            rsyslog.resume()
            out, _ = proc.communicate(timeout=120)
            wait_until(lambda: len(rsyslog.lines()) >= self.COUNT, timeout=60)
            received = set(rsyslog.lines())
        self.assertEqual((out.decode(), proc.returncode), (
            "Connection to 127.0.0.1 port 514 lost: no progress for 30 s\n"
            "Reconnected to 127.0.0.1 port 514\n" + sent_line(log, self.COUNT), 0))
        self.assertEqual(received, {"user|info|Jan  1 00:00:00|h|t:| line %d" % n
                                    for n in range(self.COUNT)})

    @unittest.skipUnless(shutil.which("iptables"), "needs iptables")
    def test_a_break_under_a_live_rsyslog_loses_no_line(self):
        log, lines = self.write_lines()
        with Rsyslog("tcp") as rsyslog:
            # Resets once 1 MB went over the connection, then for 2 s every segment.
            after_1_mb = ["-m", "connbytes", "--connbytes", "1000000:", "--connbytes-dir",
                          "original", "--connbytes-mode", "bytes"]
            reject_port_514("-I", *after_1_mb)
            self.addCleanup(lambda: subprocess.run(["iptables", "-F", "INPUT"]))
            proc = start(LOGFWD, log)
            self.assertTrue(wait_until(lambda: rule_matched("connbytes"), timeout=60))
            reject_port_514("-I")
            reject_port_514("-D", *after_1_mb)
            time.sleep(2)
            reject_port_514("-D")
            out, _ = proc.communicate(timeout=120)
            wait_until(lambda: len(rsyslog.lines()) >= self.COUNT, timeout=60)
            received = set(rsyslog.lines())
        lost = ["Connection to 127.0.0.1 port 514 lost: %s\n" % reason
                for reason in ("Connection reset by peer", "Broken pipe")]
        self.assertIn((out.decode(), proc.returncode),
                      [(lost_line + "Reconnected to 127.0.0.1 port 514\n" +
                        sent_line(log, self.COUNT), 0) for lost_line in lost])
        # Every line arrived, some maybe twice: those of a frame cut by the break.
        self.assertEqual(received, {"user|info|Jan  1 00:00:00|h|t:| line %d" % n
                                    for n in range(self.COUNT)})


class FifoTest(FaultCase):
    def test_fifo_waits_for_its_writer(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        write_archive(fifo + ".1.gz", b"archived\n")
        proc = start(LOGFWD, fifo, "all")
        # logfwd sends the archive, then opens the FIFO and waits, as cat does.
        self.assertEqual(self.sink.wait_for(1), [b"<15>archived"])
        with open(fifo, "wb") as writer:
            writer.write(b"Jan 1 00:00:00 h user.warn t: one\ntwo\n")
        out, _ = proc.communicate(timeout=30)
        self.assertEqual((out.decode(), proc.returncode), (sent_line(fifo + ".1", 1) + sent_line(fifo, 2), 0))
        self.assertEqual(self.sink.wait_for(3)[1:], [b"<12>Jan 1 00:00:00 h t: one", b"<15>two"])
        # Without a writer, SIGINT or SIGTERM end the wait, as a stop.
        for number in (signal.SIGINT, signal.SIGTERM):
            waiting = start(LOGFWD, fifo)
            time.sleep(0.5)
            waiting.send_signal(number)
            out, _ = waiting.communicate(timeout=30)
            self.assertEqual((out, waiting.returncode), (b"Stopped by signal %d\n" % number, -number))


class ArchiveFaultCase(FaultCase):
    """A log file and two archives, numbered 1 and 2, in some folder."""

    def make_log_and_archives(self, folder, base):
        os.makedirs(folder, exist_ok=True)
        log = os.path.join(folder, base)
        with open(log, "wb") as out:
            out.write(b"Mar 2 00:00:00 h user.warn log: now\n")
        self.archives = {os.path.join(folder, "%s.%d.gz" % (base, n)):
                         b"Mar 1 00:00:0%d h user.info arch: %d\n" % (n, n) for n in (1, 2)}
        for path, content in self.archives.items():
            write_archive(path, content)
        return log


class ExceptionTest(ArchiveFaultCase):
    @unittest.skipIf(harness.EMULATOR, "an address-space limit would bind the emulator, "
                     "not the program it runs")
    @unittest.skipIf(harness.sanitized(LOGFWD), "AddressSanitizer ends the program when the "
                     "operator new of a growing line finds no memory: it cannot throw")
    def test_an_exception_while_sending_ends_the_run_with_255(self):
        self.base = "messages"
        log = self.make_log_and_archives(self.dir, self.base)
        # A single 48 MiB line cannot be read under a 32 MiB address-space limit.
        huge = os.path.join(self.dir, "messages.3.gz")
        with open(huge, "wb") as out:
            gzip = subprocess.Popen(["gzip", "-c"], stdin=subprocess.PIPE, stdout=out)
            for _ in range(48):
                gzip.stdin.write(b"x" * (1 << 20))
            gzip.stdin.close()
            self.assertEqual(gzip.wait(), 0)

        stdout, status = self.logfwd(log, "all", preexec_fn=lambda: resource.setrlimit(
            resource.RLIMIT_AS, (32 << 20, 32 << 20)))
        self.assertEqual((stdout, status),
                         ("ERROR: Unexpected exception - std::bad_alloc\n", 255))
        self.assertEqual(archive_content(huge), b"x" * (48 << 20))
        self.assert_archives_restored_with(huge)
        self.assertEqual(self.sink.settle(), [])

    def assert_archives_restored_with(self, extra):
        for path, content in self.archives.items():
            self.assertEqual(archive_content(path), content, path)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["messages", "messages.1.gz", "messages.2.gz", os.path.basename(extra)])


def archive_lines(count):
    """Archive lines without the separators of a syslog line: each goes out as <15> and itself,
    a line cut short too."""
    return [b"archive line %05d " % n + b"x" * 100 for n in range(count)]


def untouched(path):
    """What changes when a file is written, replaced or renamed: checksum, inode, ctime."""
    with open(path, "rb") as data:
        info = os.stat(path)
        return hashlib.sha256(data.read()).hexdigest(), info.st_ino, info.st_ctime_ns


class UntouchedArchiveTest(FaultCase):
    """Archives are read through zlib without touching them, wherever they lie:
    the lines, the messages, the archive byte for byte."""

    def gzip(self, lines):
        return subprocess.run(["gzip", "-c"], input=b"".join(l + b"\n" for l in lines),
                              capture_output=True, check=True).stdout

    def read_only(self, folder):
        subprocess.run(["mount", "--bind", folder, folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder])
        subprocess.run(["mount", "-o", "remount,bind,ro", folder], check=True)

    def small_tmpfs(self, folder):
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder])

    def test_archives_read_without_touching_them(self):
        lines = archive_lines(4000)  # 480 kB decompressed, some 10 kB compressed
        whole = self.gzip(lines)
        cut = whole[:len(whole) // 2]
        cut_lines = zlib.decompressobj(31).decompress(cut).split(b"\n")
        flipped = whole[:-8] + bytes([whole[-8] ^ 1]) + whole[-7:]  # a byte of the CRC
        two_members = self.gzip(lines[:3]) + self.gzip(lines[3:6])
        nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        # name, archive bytes, before (folder, prepared after the files),
        # runner prefix, lines that arrive, damage reason
        cases = [
            ("read-only mount", two_members, self.read_only, [], lines[:6], None),
            ("tmpfs too small", whole, None, [], lines, None),
            ("folder not writable", whole, None, nobody, lines, None),
            ("truncated", cut, None, [], cut_lines, "unexpected end of file"),
            ("flipped byte", flipped, None, [], lines, "incorrect data check"),
            ("name taken", whole, None, [], lines, None),
            # After the last member: zero padding passes, anything else is damage.
            ("zero padding", self.gzip(lines[:3]) + bytes(512), self.read_only, [], lines[:3], None),
            ("trailing garbage", self.gzip(lines[:3]) + b"XYZ not a member", self.read_only, [],
             lines[:3], "trailing garbage ignored"),
        ]
        # Slow mode pauses after an archive read this way too: a minute passes in a
        # second under libFaketime, which cannot reach a program run by the emulator.
        slow = [] if harness.EMULATOR else ["env", "LD_PRELOAD=" + harness.FAKETIME, "FAKETIME=+0 x60"]
        for name, data, prepare, runner, sent, damage in cases:
            with self.subTest(name):
                folder = self.path(name.replace(" ", "-"))
                os.mkdir(folder)
                if name == "tmpfs too small":
                    self.small_tmpfs(folder)
                log = os.path.join(folder, "messages")
                archive = log + ".1.gz"
                with open(log, "wb") as out:
                    out.write(b"log line\n")
                with open(archive, "wb") as out:
                    out.write(data)
                taken = None
                if name == "name taken":
                    taken = self.write(os.path.join(folder, "messages.1"), b"not the archive\n")
                if runner:
                    os.chmod(self.dir, 0o755)
                    os.chmod(folder, 0o755)
                if prepare:
                    prepare(folder)
                before = sorted(os.listdir(folder)), untouched(archive)
                self.sink.settle()
                first = len(self.sink.datagrams())
                args = [log, "all"]
                if taken and slow:
                    runner, args = slow, args + ["slow"]
                result = subprocess.run(runner + harness.command(LOGFWD, *args),
                                        capture_output=True, timeout=60)
                expected = sent_line(log + ".1", len(sent))
                if damage:
                    expected += "Archive %s is damaged after %d lines: %s\n" % (
                        archive, len(sent), damage)
                if "slow" in args:
                    expected += "Sleeping 1 min...\n"
                self.assertEqual((result.stdout.decode(), result.returncode),
                                 (expected + sent_line(log, 1), 0))
                arrived = self.sink.wait_for(first + len(sent) + 1)[first:]
                self.assertEqual(arrived, [b"<15>" + l for l in sent] + [b"<15>log line"])
                self.assertEqual((sorted(os.listdir(folder)), untouched(archive)), before)
                if taken:
                    with open(taken, "rb") as other:
                        self.assertEqual(other.read(), b"not the archive\n")


class SkippedArchiveTest(ArchiveFaultCase):
    def test_an_archive_whose_name_does_not_end_in_gz_is_skipped(self):
        self.base = "messages"
        log = self.make_log_and_archives(self.dir, self.base)
        bak = os.path.join(self.dir, "messages.4.gz.bak")
        write_archive(bak, b"backup\n")
        stdout, status = self.logfwd(log, "all")
        self.assertEqual((stdout, status), (
            "Skipping the archive %s: its name does not end in .gz\n" % bak +
            sent_line(log + ".2", 1) + sent_line(log + ".1", 1) + sent_line(log, 1), 0))
        self.archives[bak] = b"backup\n"
        for path, content in self.archives.items():
            self.assertEqual(archive_content(path), content, path)


if __name__ == "__main__":
    unittest.main()
