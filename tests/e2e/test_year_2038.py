# SPDX-License-Identifier: Apache-2.0
"""Both programs past 2038-01-19, where a 32-bit time_t ends: devsim with its
wall clock in 2040 (paced, stamped and traced as usual), and logfwd sending
a log file stamped in 2040. On the 32-bit controller this needs the 64-bit
time_t of our builds.

The clock is moved by tests/support/clock_shift.c, preloaded: libfaketime
would load into the emulator rather than into a cross-built program, but
this library is built for the target and handed to the program through the
emulator's QEMU_SET_ENV.
"""
import calendar
import os
import signal
import time
import unittest

import harness
from broker import Broker
from syslog_peers import SETTINGS_PATH, UdpSink, write_settings
from test_devsim import WITHDRAWAL, Device, accept, stamp_seconds, up_messages, up_types
from test_logfwd import sent_line

IN_2040 = calendar.timegm((2040, 6, 1, 12, 0, 0))


def clock_in_2040():
    """The environment that starts a program with its wall clock in June 2040."""
    env = {"CLOCK_SHIFT_SECONDS": str(IN_2040 - int(time.time()))}
    preload = os.environ["CLOCK_SHIFT"]
    if harness.EMULATOR:
        env["QEMU_SET_ENV"] = "LD_PRELOAD=" + preload
    else:
        env["LD_PRELOAD"] = preload
    return env


@unittest.skipIf(harness.sanitized(harness.DEVSIM), "a preload would come before the sanitizer's runtime")
class After2038(unittest.TestCase):
    def test_devsim_paces_stamps_and_traces_in_2040(self):
        broker = Broker()
        self.addCleanup(broker.close)
        recorder = broker.recorder()
        device = Device(self, broker, env=clock_in_2040())
        accept(broker, recorder)
        got = recorder.wait_for(lambda got: up_types(got).count(3) >= 2, timeout=20)
        stamps = [stamp_seconds(p) for t, p in up_messages(got) if t in (2, 3)]
        self.assertTrue(all(IN_2040 <= s < IN_2040 + 600 for s in stamps), stamps)
        device.signal(signal.SIGTERM)
        self.assertEqual(device.wait(), (0, b""))
        recorder.wait_for(lambda got: up_messages(got)[-1] == (1500, WITHDRAWAL))
        with open(device.trace_path) as trace:
            years = {line[:5] for line in trace}
        self.assertEqual(years, {"2040-"})

    def test_logfwd_sends_a_log_file_stamped_in_2040(self):
        self.assertTrue(harness.in_sandbox(), "run inside tests/e2e/sandbox.sh")
        write_settings("host = 127.0.0.1\n")
        self.addCleanup(os.remove, SETTINGS_PATH)
        log = os.path.join(harness.scratch_dir(self), "messages")
        with open(log, "wb") as out:
            out.write(b"Jun  1 12:00:00 ctrl user.warn app: in 2040\n")
        os.utime(log, (IN_2040, IN_2040))
        with UdpSink() as sink:
            result = harness.run(harness.LOGFWD, log, env=dict(os.environ, **clock_in_2040()))
            self.assertEqual((result.stdout.decode(), result.returncode), (sent_line(log, 1), 0))
            self.assertEqual(sink.wait_for(1), [b"<12>Jun  1 12:00:00 ctrl app: in 2040"])


if __name__ == "__main__":
    unittest.main()
