"""logfwd end to end when things go wrong: failed sends, a TCP server that
dies in the middle of a run, hostile file names, stop signals and exceptions
in the middle of the archive pass, a full disk, FIFOs, odd bytes, and an
archive whose decompressed name is taken. After every run each archive must
be back under its own name with the same content."""
import os
import queue
import resource
import signal
import subprocess
import threading
import unittest

import harness
from harness import LOGFWD, start
from syslog_peers import (Rsyslog, TcpServer, archive_content, wait_until, write_archive,
                          write_settings)
from test_logfwd import LogfwdCase, sent_line


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

    def test_odd_bytes_go_out_unchanged(self):
        lines = [b"Jan 1 00:00:00 h user.info t: \x00\x00nul", b"\xc3\x28\xa0\xa1 invalid utf-8",
                 b"Jan 1 00:00:00 h user.err t: " + bytes(range(1, 10)), b"\x00"]
        log = self.write("messages", b"\n".join(lines))
        self.assertEqual(self.logfwd(log), (sent_line(log, 4), 0))
        self.assertEqual(self.sink.wait_for(4), [
            b"<14>Jan 1 00:00:00 h t: \x00\x00nul", b"<15>\xc3\x28\xa0\xa1 invalid utf-8",
            b"<11>Jan 1 00:00:00 h t: " + bytes(range(1, 10)), b"<15>\x00"])


class TcpBreakTest(FaultCase):
    COUNT = 200000

    def start_and_break(self):
        """logfwd sending COUNT lines over TCP to a server that dies after
        reading 100,000 bytes; returns the log path, the process and the server."""
        log = self.write("messages", b"".join(
            b"Jan  1 00:00:00 h user.info t: line %d\n" % n for n in range(self.COUNT)))
        write_settings("host = 127.0.0.1\nprotocol = tcp\n")
        first = TcpServer(read_at_most=100000)
        proc = start(LOGFWD, log)
        self.addCleanup(proc.stderr.close)
        self.addCleanup(proc.stdout.close)
        self.assertTrue(first.full.wait(timeout=60))
        first.die()  # logfwd is blocked on full buffers by now, or soon
        return log, proc, first

    def test_a_server_that_stays_away_leaves_the_rest_counted_as_failed(self):
        log, proc, first = self.start_and_break()
        out, _ = proc.communicate(timeout=120)
        lines = out.decode().splitlines()
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(len(lines), 3, lines)
        reason = lines[0].split(": ", 1)[1]
        self.assertIn(reason, ("Connection reset by peer", "Broken pipe"))
        self.assertEqual(lines[0], "Connection to 127.0.0.1 port 514 lost: " + reason)
        # Every line counted once: sent, or failed with the error of the break.
        sent = int(lines[1].split()[2])
        self.assertEqual(lines[1], sent_line(log, sent).rstrip("\n"))
        self.assertEqual(lines[2], "Failed to send %d logs from %s file: %s"
                         % (self.COUNT - sent, log, reason))
        self.assertGreaterEqual(sent, len(first.messages()))

    def test_a_server_restarted_mid_run_gets_the_rest_in_order(self):
        count = self.COUNT
        log, proc, first = self.start_and_break()
        with Rsyslog("tcp") as second:
            out, _ = proc.communicate(timeout=120)
            last = "user|info|Jan  1 00:00:00|h|t:| line %d" % (count - 1)
            self.assertTrue(wait_until(lambda: second.lines()[-1:] == [last], timeout=60, step=0.5))
            received = second.lines()
        lost_with = ("Connection to 127.0.0.1 port 514 lost: %s\n" % reason
                     for reason in ("Connection reset by peer", "Broken pipe"))
        self.assertIn((out.decode(), proc.returncode),
                      [(lost + "Reconnected to 127.0.0.1 port 514\n" + sent_line(log, count), 0)
                       for lost in lost_with])
        # The first server got whole lines from the first on; the second got
        # every line from some point after them to the end, in order. What
        # lies between was in the kernels' buffers when the connection broke.
        taken = len(first.messages())
        self.assertGreater(taken, 0)
        self.assertEqual(first.messages(), [b"<14>Jan  1 00:00:00 h t: line %d" % n
                                            for n in range(taken)])
        resumed = int(received[0].rsplit(" ", 1)[1])
        self.assertGreaterEqual(resumed, taken)
        self.assertEqual(received, ["user|info|Jan  1 00:00:00|h|t:| line %d" % n
                                    for n in range(resumed, count)])


class FifoTest(FaultCase):
    def test_fifo_without_writer_reads_as_empty(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        self.assertEqual(self.logfwd(fifo, timeout=30), (sent_line(fifo, 0), 0))

    def test_fifo_with_writer_is_read_to_its_end(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)

        def feed():
            with open(fifo, "wb") as writer:
                writer.write(b"Jan 1 00:00:00 h user.warn t: one\ntwo\n")
        # The writer's open waits for logfwd's; then logfwd reads until the writer closes.
        writer = threading.Thread(target=feed, daemon=True)
        writer.start()
        proc = start(LOGFWD, fifo)
        writer.join(timeout=30)
        out, _ = proc.communicate(timeout=30)
        self.assertEqual((out.decode(), proc.returncode), (sent_line(fifo, 2), 0))
        self.assertEqual(self.sink.wait_for(2), [b"<12>Jan 1 00:00:00 h t: one", b"<15>two"])


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

    def assert_archives_restored(self, folder):
        for path, content in self.archives.items():
            self.assertEqual(archive_content(path), content, path)
        self.assertEqual(sorted(os.path.join(folder, n) for n in os.listdir(folder)),
                         sorted(list(self.archives) + [os.path.join(folder, self.base)]))


class ShellCharactersTest(ArchiveFaultCase):
    def test_names_with_shell_characters_reach_gzip_whole(self):
        folder_name = "-d $(touch canary) `touch canary`"
        self.base = "it's a \"log\"; touch canary\nx"
        folder = self.path(folder_name)
        self.make_log_and_archives(folder, self.base)
        relative_log = os.path.join(folder_name, self.base)
        stdout, status = self.logfwd(relative_log, "all", cwd=self.dir)
        self.assertEqual((stdout, status), (
            sent_line(relative_log + ".2", 1) + sent_line(relative_log + ".1", 1) +
            sent_line(relative_log, 1), 0))
        self.assertEqual(self.sink.wait_for(3), [
            b"<14>Mar 1 00:00:02 h arch: 2", b"<14>Mar 1 00:00:01 h arch: 1",
            b"<12>Mar 2 00:00:00 h log: now"])
        self.assert_archives_restored(folder)
        self.assertEqual(sorted(os.listdir(self.dir)), [folder_name])


class StopSignalTest(ArchiveFaultCase):
    def test_a_stop_signal_in_the_slow_minute_compresses_the_archive_again(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=number.name):
                self.base = "messages"
                folder = self.path(number.name)
                log = self.make_log_and_archives(folder, self.base)
                proc = start(LOGFWD, log, "all", "slow")
                lines = queue.Queue()
                reader = threading.Thread(target=lambda: [lines.put(l.decode()) for l in proc.stdout],
                                          daemon=True)
                reader.start()
                first = [lines.get(timeout=60) for _ in range(2)]
                self.assertEqual(first, [sent_line(log + ".2", 1), "Sleeping 1 min...\n"])
                # During the pause the archive in hand lies decompressed.
                self.assertTrue(os.path.exists(log + ".2"))
                self.assertFalse(os.path.exists(log + ".2.gz"))
                proc.send_signal(number)
                self.assertEqual(proc.wait(timeout=60), -number)
                reader.join(timeout=10)
                rest = [lines.get_nowait() for _ in range(lines.qsize())]
                self.assertEqual(rest, ["Stopped by signal %d\n" % int(number)])
                proc.stdout.close()
                proc.stderr.close()
                self.assert_archives_restored(folder)
        # Only the first archive of each run went out; never the log file.
        self.assertEqual(self.sink.settle(), [b"<14>Mar 1 00:00:02 h arch: 2"] * 3)


def memory_limit(megabytes):
    """Run arguments that make allocations beyond megabytes fail. AddressSanitizer
    reserves its shadow memory beyond any address-space limit, so a sanitized
    build gets the limit from its own allocator instead."""
    if harness.sanitized(LOGFWD):
        options = os.environ.get("ASAN_OPTIONS", "")
        options += ":allocator_may_return_null=1:max_allocation_size_mb=%d" % megabytes
        return {"env": dict(os.environ, ASAN_OPTIONS=options)}

    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))
    return {"preexec_fn": limit}


class ExceptionTest(ArchiveFaultCase):
    @unittest.skipIf(harness.EMULATOR, "an address-space limit would bind the emulator, "
                     "not the program it runs")
    def test_an_exception_while_sending_compresses_the_archive_again(self):
        self.base = "messages"
        log = self.make_log_and_archives(self.dir, self.base)
        # A single 96 MiB line cannot be read under a 64 MiB address-space limit.
        huge = os.path.join(self.dir, "messages.3.gz")
        with open(huge, "wb") as out:
            gzip = subprocess.Popen(["gzip", "-c"], stdin=subprocess.PIPE, stdout=out)
            for _ in range(96):
                gzip.stdin.write(b"x" * (1 << 20))
            gzip.stdin.close()
            self.assertEqual(gzip.wait(), 0)

        stdout, status = self.logfwd(log, "all", **memory_limit(64))
        self.assertEqual((stdout, status),
                         ("ERROR: Unexpected exception - std::bad_alloc\n", 255))
        self.assertEqual(archive_content(huge), b"x" * (96 << 20))
        self.assertFalse(os.path.exists(log + ".3"))
        self.assert_archives_restored_with(huge)
        self.assertEqual(self.sink.settle(), [])

    def assert_archives_restored_with(self, extra):
        for path, content in self.archives.items():
            self.assertEqual(archive_content(path), content, path)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["messages", "messages.1.gz", "messages.2.gz", os.path.basename(extra)])


class DiskFullTest(ArchiveFaultCase):
    def test_disk_full_while_gunzip_writes_leaves_the_archive_whole(self):
        folder = self.path("small")
        os.mkdir(folder)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder])
        self.base = "messages"
        log = self.make_log_and_archives(folder, self.base)
        big = os.path.join(folder, "messages.3.gz")
        write_archive(big, b"Mar 1 00:00:03 h user.info arch: 3\n" * 20000)
        with open(big, "rb") as archive:
            before = archive.read()
        stdout, status = self.logfwd(log, "all")
        self.assertEqual((stdout, status), (
            "Impossible to decompress the archive %s\n" % big +
            sent_line(log + ".2", 1) + sent_line(log + ".1", 1) + sent_line(log, 1), 0))
        with open(big, "rb") as archive:
            self.assertEqual(archive.read(), before)
        self.archives[big] = b"Mar 1 00:00:03 h user.info arch: 3\n" * 20000
        self.assert_archives_restored(folder)
        self.assertEqual(self.sink.wait_for(3), [
            b"<14>Mar 1 00:00:02 h arch: 2", b"<14>Mar 1 00:00:01 h arch: 1",
            b"<12>Mar 2 00:00:00 h log: now"])


class TakenNameTest(ArchiveFaultCase):
    def test_an_archive_whose_plain_name_is_taken_is_skipped(self):
        self.base = "messages"
        log = self.make_log_and_archives(self.dir, self.base)
        plain = self.write("messages.1", b"Mar 1 00:00:09 h user.info other: never sent\n")
        bak = os.path.join(self.dir, "messages.4.gz.bak")
        write_archive(bak, b"backup\n")
        stdout, status = self.logfwd(log, "all")
        self.assertEqual((stdout, status), (
            "Skipping the archive %s: its name does not end in .gz\n" % bak +
            sent_line(log + ".2", 1) +
            "Skipping the archive %s.gz: %s already exists\n" % (plain, plain) +
            sent_line(log, 1), 0))
        with open(plain, "rb") as other:
            self.assertEqual(other.read(), b"Mar 1 00:00:09 h user.info other: never sent\n")
        self.archives[bak] = b"backup\n"
        for path, content in self.archives.items():
            self.assertEqual(archive_content(path), content, path)
        self.assertEqual(self.sink.wait_for(2), [
            b"<14>Mar 1 00:00:02 h arch: 2", b"<12>Mar 2 00:00:00 h log: now"])


if __name__ == "__main__":
    unittest.main()
