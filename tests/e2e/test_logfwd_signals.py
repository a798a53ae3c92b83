# SPDX-License-Identifier: Apache-2.0
"""logfwd's archive pass against stop signals (every count printed is of lines
that arrived) and Debian's logrotate (every line of the files as they were
when the pass began arrives once; the disk keeps every line). A low rate
stretches the run, SIGSTOP holds it at its moment, checked from what arrived."""
import os
import pathlib
import resource
import signal
import subprocess
import unittest

import harness
from harness import LOGFWD
from syslog_peers import archive_content, wait_until, write_archive, write_settings
from harness import sent_line
from test_logfwd import LogfwdCase

FAKETIME = {"LD_PRELOAD": harness.FAKETIME, "FAKETIME": "+0 x60"}  # the slow minute in a second
# Lines per file in the order of the pass: the first archive and the log file
# are long enough to be caught in the middle at the rate of the settings.
SIZES = [("messages.4.gz", 200), ("messages.3.gz", 20), ("messages.2.gz", 20),
         ("messages.1.gz", 20), ("messages", 200)]
ROTATE = "%s {\n    rotate 5\n    compress\n    create\n}\n"


class PassUnderWayCase(LogfwdCase):
    def make_files(self, name):
        """A folder with the files of SIZES, each line its own."""
        write_settings("host = 127.0.0.1\nrate = 400\n")
        self.folder = os.path.join(self.dir, name)
        self.log = os.path.join(self.folder, "messages")
        os.mkdir(self.folder)
        self.sent = []
        for file, count in SIZES:
            lines = [b"%s line %03d" % (file.encode(), n) for n in range(count)]
            self.sent += [b"<15>" + line for line in lines]
            path, content = os.path.join(self.folder, file), b"".join(line + b"\n" for line in lines)
            write_archive(path, content) if file.endswith(".gz") else pathlib.Path(path).write_bytes(content)
        self.disk, self.archives = self.lines_on_disk(), self.archive_stats()
        self.first = len(self.sink.settle())

    def arrived(self):
        return self.sink.settle()[self.first:]

    def lines_on_disk(self):
        paths = [os.path.join(self.folder, name) for name in os.listdir(self.folder)]
        return sorted(filter(None, b"".join(archive_content(p) if p.endswith(".gz") else
                                            pathlib.Path(p).read_bytes() for p in paths).split(b"\n")))

    def archive_stats(self):
        stats = [os.stat(os.path.join(self.folder, n)) for n in os.listdir(self.folder) if n.endswith(".gz")]
        return {s.st_ino: (s.st_size, s.st_mtime_ns) for s in stats}

    def whole_run(self, slow):
        return [line for file, count in SIZES[:-1] for line in
                [sent_line(os.path.join(self.folder, file[:-3]), count)] + ["Sleeping 1 min...\n"] * slow] + \
               [sent_line(self.log, SIZES[-1][1])]

    def start_and_hold(self, moment, **kwargs):
        """logfwd LOG all (slow for the pause), once it is at moment: "archive"
        (the first one's lines), "pause" (the slow minute after it) or "log"
        (the log file's lines); returns the process and what it printed so far."""
        slow = ["slow"] if moment == "pause" else []
        proc = subprocess.Popen(harness.command(LOGFWD, self.log, "all", *slow), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, **kwargs)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        printed = [proc.stdout.readline().decode() for _ in slow * 2]
        self.assertEqual(printed, self.whole_run(True)[:len(printed)])
        before = 0 if moment != "log" else len(self.sent) - SIZES[-1][1]
        self.assertTrue(wait_until(lambda: len(self.sink.datagrams()) > self.first + before, step=0.005))
        return proc, printed

    def assert_at(self, moment, arrived):
        first, log = SIZES[0][1], len(self.sent) - SIZES[-1][1]
        low, high = {"archive": (1, first - 1), "pause": (first, first), "log": (log + 1, len(self.sent) - 1)}[moment]
        self.assertTrue(low <= arrived <= high, "%d lines arrived: not at the %s" % (arrived, moment))


class SignalTest(PassUnderWayCase):
    def test_a_stop_signal_ends_the_run_with_honest_counts(self):
        # signal, to the whole process group (as Ctrl-C), moment
        for number, group, moment in ((signal.SIGTERM, False, "archive"), (signal.SIGINT, True, "pause"),
                                      (signal.SIGUSR1, False, "log")):
            with self.subTest(signal=number.name, moment=moment):
                self.make_files(number.name)
                proc, printed = self.start_and_hold(moment, process_group=0)
                (os.killpg if group else os.kill)(proc.pid, number)
                printed += proc.communicate(timeout=60)[0].decode().splitlines(keepends=True)
                self.assertEqual((printed[-1], proc.returncode), ("Stopped by signal %d\n" % number, -number))
                counted = sum(int(line.split()[2]) for line in printed if line.startswith("Successfully"))
                self.assert_at(moment, counted)
                self.assertEqual(self.arrived(), self.sent[:counted])
                self.assertEqual((self.lines_on_disk(), self.archive_stats()), (self.disk, self.archives))


class RotationTest(PassUnderWayCase):
    def test_a_rotation_loses_and_repeats_nothing(self):
        # moment, descriptor limit (a low one leaves archives to be found again by inode)
        for moment, limit in (("archive", None), ("archive", 16), ("pause", None), ("log", None)):
            with self.subTest(moment=moment, limit=limit):
                if moment == "pause" and harness.EMULATOR:
                    self.skipTest("libfaketime cannot reach a program run by the emulator")
                self.make_files("%s-%s" % (moment, limit))
                proc, printed = self.start_and_hold(
                    moment, env=dict(os.environ, **FAKETIME) if moment == "pause" else None,
                    preexec_fn=limit and (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))))
                proc.send_signal(signal.SIGSTOP)
                stat = pathlib.Path("/proc/%d/stat" % proc.pid)
                self.assertTrue(wait_until(lambda: stat.read_text().split(") ")[1][0] == "T"))
                self.assert_at(moment, len(self.arrived()))
                # The snapshot: every file not yet sent is held open, unless the limit is low.
                fds = "/proc/%d/fd/" % proc.pid
                held = [f for f in map(os.readlink, map(fds.__add__, os.listdir(fds))) if f.startswith(self.folder)]
                self.assertEqual(len(held) < {"archive": 5, "pause": 4, "log": 1}[moment], bool(limit), held)
                conf = os.path.join(self.dir, "logrotate.conf")
                pathlib.Path(conf).write_text(ROTATE % self.log)
                subprocess.run(["logrotate", "-f", "-s", os.path.join(self.dir, "state"), conf], check=True)
                proc.send_signal(signal.SIGCONT)
                printed += proc.communicate(timeout=60)[0].decode().splitlines(keepends=True)
                self.assertEqual((printed, proc.returncode), (self.whole_run(moment == "pause"), 0))
                self.assertEqual(self.arrived(), self.sent)
                self.assertEqual(self.lines_on_disk(), self.disk)
                # The archives as they were, renamed by the rotation, and the rotated log beside them.
                after = self.archive_stats()
                self.assertTrue(self.archives.items() <= after.items() and len(after) == len(self.archives) + 1)


if __name__ == "__main__":
    unittest.main()
