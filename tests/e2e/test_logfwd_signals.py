# SPDX-License-Identifier: Apache-2.0
"""logfwd's archive pass against the signals that end a process, sent while
gunzip runs, while a large archive is sent and while gzip runs, to logfwd
alone or to its whole process group (as a Ctrl-C or Ctrl-\\ in a terminal),
with the tools library's shell commands run both ways: posix_spawn (the
stand-in) and system(), which ignores SIGINT and SIGQUIT in the caller while
the command runs. Whatever the ending, every archive keeps its content and no
decompressed file stays behind. Also a gzip that cannot compress an archive
again (a full disk): exit 255 naming both paths, further archives untouched."""
import functools
import gzip
import os
import random
import resource
import signal
import subprocess
import time
import unittest

import harness
from harness import LOGFWD
from syslog_peers import wait_until, write_archive
from test_logfwd import LogfwdCase, sent_line

LOGFWD_SYSTEM_SHELL = os.environ.get("LOGFWD_SYSTEM_SHELL", "")
# About 11 MB decompressed: gunzip takes some 0.1 s, gzip 0.4 s on the
# development machine, long enough for a signal to land inside them. Long
# lines keep the sending short (0.4 s at the default rate) but still far
# longer than a poll of the files.
BIG_LINES = 4000


@functools.lru_cache(maxsize=None)
def big_archive():
    """The large archive's content and its gzip bytes, made once for the module."""
    rand = random.Random(7)
    content = b"".join(b"Mar 1 00:00:01 h user.info big: %06d %s\n"
                       % (n, rand.randbytes(1375).hex().encode()) for n in range(BIG_LINES))
    return content, subprocess.run(["gzip", "-c"], input=content, capture_output=True,
                                   check=True).stdout


def no_core_dumps():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class ArchivePassCase(LogfwdCase):
    """messages.2.gz (large) and messages.1.gz (small) beside messages."""

    @classmethod
    def setUpClass(cls):
        cls.big, cls.big_gz = big_archive()
        cls.small = b"Mar 1 00:00:01 h user.info small: 1\n"

    def make_files(self, folder):
        os.makedirs(folder, exist_ok=True)
        log = os.path.join(folder, "messages")
        with open(log, "wb") as out:
            out.write(b"Mar 2 00:00:00 h user.warn log: now\n")
        with open(log + ".2.gz", "wb") as out:
            out.write(self.big_gz)
        write_archive(log + ".1.gz", self.small)
        return log

    def assert_all_restored(self, log):
        folder = os.path.dirname(log)
        self.assertEqual(sorted(os.listdir(folder)), ["messages", "messages.1.gz", "messages.2.gz"])
        for name, content in (("messages.2.gz", self.big), ("messages.1.gz", self.small)):
            with gzip.open(os.path.join(folder, name)) as archive:
                self.assertTrue(archive.read() == content, name)

    def start(self, program, log):
        return subprocess.Popen(harness.command(program, log, "all"), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, process_group=0,
                                preexec_fn=no_core_dumps)

    def wait_for_phase(self, log, phase):
        """Waits until archive 2 is in phase: "gunzip" (both files, before the
        archive went away), "send" (decompressed only) or "gzip" (both again)."""
        archive, plain = log + ".2.gz", log + ".2"
        seen_send = False
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            has_archive, has_plain = os.path.exists(archive), os.path.exists(plain)
            if has_plain and not has_archive:
                seen_send = True
            if (phase == "gunzip" and has_plain and has_archive and not seen_send) or \
               (phase == "send" and seen_send) or \
               (phase == "gzip" and seen_send and has_archive and has_plain):
                return
            time.sleep(0.001)
        self.fail("archive 2 never reached the %s phase" % phase)


class SignalTest(ArchivePassCase):
    def test_every_ending_leaves_the_archives_whole(self):
        spawn, system = LOGFWD, LOGFWD_SYSTEM_SHELL
        # program, signal, to the group?, phase, exit status, last line printed
        cases = [
            (spawn, signal.SIGQUIT, True, "gunzip", -signal.SIGQUIT, "Stopped by signal 3\n"),
            (spawn, signal.SIGQUIT, True, "gzip", -signal.SIGQUIT, "Stopped by signal 3\n"),
            (spawn, signal.SIGINT, True, "gunzip", -signal.SIGINT, "Stopped by signal 2\n"),
            (spawn, signal.SIGINT, True, "gzip", -signal.SIGINT, "Stopped by signal 2\n"),
            (spawn, signal.SIGTERM, False, "send", -signal.SIGTERM, "Stopped by signal 15\n"),
            (spawn, signal.SIGUSR1, False, "send", -signal.SIGUSR1, "Stopped by signal 10\n"),
            (spawn, signal.SIGRTMIN, False, "send", -signal.SIGRTMIN,
             "Stopped by signal %d\n" % signal.SIGRTMIN),
            # system(): logfwd never hears SIGINT/SIGQUIT during a command; the
            # files show what happened, and the run goes on.
            (system, signal.SIGINT, True, "gunzip", 0, None),
            (system, signal.SIGQUIT, True, "gzip", 0, None),
            (system, signal.SIGINT, True, "gzip", 0, None),
        ]
        for n, (program, number, group, phase, status, last) in enumerate(cases):
            label = "%s %s%s during %s" % (os.path.basename(program) or "system()", number.name,
                                            " to the group" if group else "", phase)
            with self.subTest(label):
                if not program:
                    self.skipTest("logfwd_system_shell is built only with the platform stand-ins")
                if harness.EMULATOR and number >= signal.SIGRTMIN:
                    self.skipTest("qemu-user keeps host real-time signals for itself and maps "
                                  "the program's onto others: a host SIGRTMIN is not its SIGRTMIN")
                log = self.make_files(os.path.join(self.dir, str(n)))
                proc = self.start(program, log)
                self.wait_for_phase(log, phase)
                if group:
                    os.killpg(proc.pid, number)
                else:
                    proc.send_signal(number)
                out, _ = proc.communicate(timeout=120)
                lines = out.decode().splitlines(keepends=True)
                self.assertEqual(proc.returncode, status, out.decode())
                if last:
                    self.assertEqual(lines[-1], last)
                    self.assertNotIn(sent_line(log, 1), lines)
                else:
                    self.assertEqual(lines, [sent_line(log + ".2", BIG_LINES),
                                             sent_line(log + ".1", 1), sent_line(log, 1)])
                self.assert_all_restored(log)

    def test_a_closed_standard_output_ends_by_sigpipe_once_the_archive_is_back(self):
        log = self.make_files(os.path.join(self.dir, "head"))
        logfwd = self.start(LOGFWD, log)
        head = subprocess.Popen(["head", "-n", "1"], stdin=logfwd.stdout, stdout=subprocess.PIPE)
        logfwd.stdout.close()
        out, _ = head.communicate(timeout=120)
        self.assertEqual(out.decode(), sent_line(log + ".2", BIG_LINES))
        # The second line (archive 1 sent) meets the closed pipe while archive 1 lies decompressed.
        self.assertEqual(logfwd.wait(timeout=120), -signal.SIGPIPE)
        self.assert_all_restored(log)
        self.assertTrue(wait_until(lambda: self.sink.datagrams()[-1:] == [b"<14>Mar 1 00:00:01 h small: 1"]))


class RecompressionFailureTest(ArchivePassCase):
    def test_a_full_disk_at_recompression_ends_the_run_with_255(self):
        folder = os.path.join(self.dir, "full")
        os.mkdir(folder)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=40m", "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", folder])
        log = self.make_files(folder)
        before_1 = os.stat(log + ".1.gz")
        proc = self.start(LOGFWD, log)
        self.wait_for_phase(log, "send")
        # Held still while the disk fills up, so that gzip finds no room at all.
        proc.send_signal(signal.SIGSTOP)
        self.assertFalse(os.path.exists(log + ".2.gz"))
        filler = os.path.join(folder, "filler")
        with open(filler, "wb") as out:
            # gunzip may still hold the removed archive open for a moment; its
            # room comes free when it closes it.
            size = 0
            while wait_until(lambda: os.statvfs(folder).f_bavail > 0, timeout=0.5):
                free = os.statvfs(folder)
                size += free.f_bavail * free.f_frsize
                os.posix_fallocate(out.fileno(), 0, size)
        proc.send_signal(signal.SIGCONT)
        out, _ = proc.communicate(timeout=120)
        self.assertEqual((out.decode(), proc.returncode), (
            sent_line(log + ".2", BIG_LINES) +
            "Impossible to compress the file %s again into %s\n" % (log + ".2", log + ".2.gz"), 255))
        # Archive 1 and the log file were not touched; the content waits in messages.2.
        after_1 = os.stat(log + ".1.gz")
        self.assertEqual((after_1.st_ino, after_1.st_ctime_ns), (before_1.st_ino, before_1.st_ctime_ns))
        self.assertEqual(sorted(os.listdir(folder)), ["filler", "messages", "messages.1.gz", "messages.2"])
        with open(log + ".2", "rb") as plain:
            self.assertTrue(plain.read() == self.big)
        # The repair the manual page gives, once there is room again.
        os.remove(filler)
        subprocess.run(["gzip", "--", log + ".2"], check=True)
        self.assert_all_restored(log)


if __name__ == "__main__":
    unittest.main()
