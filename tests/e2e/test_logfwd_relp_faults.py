# SPDX-License-Identifier: Apache-2.0
"""logfwd over RELP against a server that misbehaves on its first connection
(an impossible length, answers to nothing waiting, garbage, serverclose, a
close or a reset, a drip that never makes an answer, refusals) and behaves
on the next: the break and its reason, the next session sending again every
line not answered, and no line counted sent that the server did not answer
200. A server that refuses the session ends the run at once; one that drops
the connection before answering open has not refused it."""
import time
import unittest

import harness
from harness import LOGFWD, sent_line, start
from syslog_peers import RELP_OFFERS, RelpMode, RelpServer, wait_until, write_settings
from test_logfwd import LogfwdCase

PORT = 2514
SERVER = "127.0.0.1 port %d" % PORT
COUNT = 20
LINES = [b"line %d" % n for n in range(COUNT)]
MESSAGES = [b"<15>line %d" % n for n in range(COUNT)]
ACT_AT = 7  # the sixth line's command: the first five were answered 200
SESSION_REFUSED = "ERROR in RELP session with %s: " % SERVER


class RelpFaultCase(LogfwdCase):
    def setUp(self):
        super().setUp()
        write_settings("host = 127.0.0.1\nprotocol = relp\nport = %d\n" % PORT)
        self.log = self.write_log("messages", LINES)

    def serve(self, first):
        """A RelpServer whose first connection behaves as first says."""
        server = RelpServer([first], port=PORT)
        self.addCleanup(server.close)
        return server

    def broken_once(self, reason):
        """logfwd's output and status when the first connection broke for reason."""
        return ("Connection to %s lost: %s\nReconnected to %s\n" % (SERVER, reason, SERVER) +
                sent_line(self.log, COUNT), 0)

    def assert_counted_as_answered(self, server, out, failed=()):
        """What logfwd counted sent is exactly what the server answered 200,
        each line once, over all connections; failed is what it answered 500."""
        taken = [m for connection in server.connections for m in connection.answered(200)]
        refused = [m for connection in server.connections for m in connection.answered(500)]
        self.assertEqual(sorted(taken), sorted(set(MESSAGES) - set(failed)))
        self.assertEqual(refused, list(failed))
        self.assertIn(sent_line(self.log, len(taken)), out)

    def assert_sent_again(self, server):
        """The first connection answered the first five lines; the second one
        got every other line, numbered from 2, and nothing else."""
        first, second = server.connections
        self.assertEqual(first.answered(200), MESSAGES[:ACT_AT - 2])
        self.assertEqual(second.syslog(), list(enumerate(MESSAGES[ACT_AT - 2:], 2)))


class HostileRelpServerTest(RelpFaultCase):
    def test_a_broken_session_is_told_and_the_next_sends_every_unanswered_line(self):
        # name, what comes instead of the answer to ACT_AT, how the server ends, reason
        cases = [
            ("oversized length", b"7 rsp 999999999 200 OK\n", "",
             "a malformed answer: an answer of 999999999 bytes"),
            ("negative length", b"7 rsp -5 200 OK\n", "",
             "a malformed answer: a frame with no data length"),
            ("never-sent number", b"77 rsp 6 200 OK\n", "",
             "an answer to transaction 77, which waits for none"),
            ("already answered", b"6 rsp 6 200 OK\n", "",
             "an answer to transaction 6, which waits for none"),
            ("number of the hints", b"0 rsp 6 200 OK\n", "",
             'a malformed answer: an unexpected "rsp" frame with transaction number 0'),
            ("empty answer", b"7 rsp 0\n", "",
             "a malformed answer: an answer without a status code"),
            ("garbage", b"\x00\xffgarbage\r\n", "",
             "a malformed answer: a frame with no transaction number"),
            ("serverclose", b"0 serverclose 0\n", "close", "the server closed the session"),
            ("closed without a word", b"", "close", "closed by the server"),
            ("reset", b"", "reset", "Connection reset by peer"),
        ]
        for name, act, end_after, reason in cases:
            with self.subTest(name):
                mode = RelpMode(act_at=ACT_AT, act=act, end_after=end_after)
                with RelpServer([mode], port=PORT) as server:
                    out, status = self.logfwd(self.log)
                self.assertEqual((out, status), self.broken_once(reason))
                self.assertEqual(len(server.connections), 2)
                self.assert_sent_again(server)
                self.assert_counted_as_answered(server, out)

    def test_a_connection_lost_during_open_is_a_break_not_a_refusal(self):
        # The server gave no verdict on the session, or took it and closed it
        # in the same breath: logfwd connects again.
        accepted = b"200 OK\n" + RELP_OFFERS
        accepted_and_closed = b"1 rsp %d %s\n0 serverclose 0\n" % (len(accepted), accepted)
        for act, end_after, reason in ((b"", "close", "closed by the server"),
                                       (b"", "reset", "Connection reset by peer"),
                                       (accepted_and_closed, "", "the server closed the session")):
            with self.subTest(reason):
                mode = RelpMode(act_at=1, act=act, end_after=end_after)
                with RelpServer([mode], port=PORT) as server:
                    out, status = self.logfwd(self.log)
                self.assertEqual((out, status), self.broken_once(reason))
                first, second = server.connections
                self.assertEqual([command for _, command, _ in first.frames], [b"open"])
                self.assertEqual(second.syslog(), list(enumerate(MESSAGES, 2)))
                self.assert_counted_as_answered(server, out)

    def test_lines_the_server_refuses_fail_with_its_words_and_the_rest_are_sent(self):
        for refusal in ("500 command disabled", "500"):
            with self.subTest(refusal):
                mode = RelpMode(refused=(5, 9), refusal=refusal.encode())  # lines 3 and 7
                with RelpServer([mode], port=PORT) as server:
                    out, status = self.logfwd(self.log)
                self.assertEqual((out, status), (
                    sent_line(self.log, COUNT - 2) + "Failed to send 2 logs from %s file: "
                    "refused by the server: %s\n" % (self.log, refusal), 0))
                self.assertEqual(len(server.connections), 1)
                self.assert_counted_as_answered(server, out, failed=[MESSAGES[3], MESSAGES[7]])

    def test_a_refused_session_ends_the_run_before_any_line(self):
        # name, the answer to open (None: none) and its number, reason
        cases = [
            ("no syslog offered", b"200 OK\nrelp_version=0\ncommands=eventlog", 1,
             "the server does not offer the syslog command"),
            ("refused", b"500 too many sessions", 1,
             "the server refused the session: 500 too many sessions"),
            ("refused, code alone", b"500", 1, "the server refused the session: 500"),
            ("no status code", b"OK\n" + RELP_OFFERS, 1,
             "a malformed answer: an answer without a status code"),
            ("empty answer", b"", 1, "a malformed answer: an answer without a status code"),
            ("another number", b"200 OK\n" + RELP_OFFERS, 2,
             "an answer to transaction 2 instead of open"),
            ("no answer", None, 1, "no answer to open within 5 s"),
        ]
        for name, open_answer, txnr, reason in cases:
            with self.subTest(name):
                mode = RelpMode(open_answer=open_answer, open_txnr=txnr)
                with RelpServer([mode], port=PORT) as server:
                    out, status = self.logfwd(self.log)
                self.assertEqual((out, status), (SESSION_REFUSED + reason + "\n", 255))
                self.assertEqual(len(server.connections), 1)
                self.assertEqual([command for _, command, _ in server.connections[0].frames],
                                 [b"open"])


class DrippingRelpServerTest(RelpFaultCase):
    def test_a_drip_that_never_makes_an_answer_breaks_after_the_stall_limit(self):
        # Nearly the most an answer may hold at once, then a byte every half
        # second for 20 s, then nothing: logfwd waits on one frame's worth and
        # no more, and the limit counts from the last whole answer, not from
        # the last byte.
        first = RelpMode(act_at=ACT_AT, act=b"7 rsp 16384 200 " + b"x" * 16000, drip=b"x" * 40)
        server = self.serve(first)
        proc = start(LOGFWD, self.log)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        self.assertTrue(wait_until(lambda: server.connections and server.connections[0].acting))
        dripping = harness.resident_kb(proc.pid)
        time.sleep(len(first.drip) * first.drip_pause)
        grown = harness.resident_kb(proc.pid) - dripping
        out, _ = proc.communicate(timeout=120)
        self.assertEqual((out.decode(), proc.returncode), self.broken_once("no answer for 30 s"))
        self.assertLess(grown, 2048, "resident size grew by %d kB during the drip" % grown)
        connection = server.connections[0]
        waited = connection.ended - connection.last_answer
        self.assertGreaterEqual(waited, 29.9)  # logfwd's clock counts whole milliseconds
        self.assertLess(waited, 40, "the limit counted from a byte that made no answer")
        self.assert_sent_again(server)
        self.assert_counted_as_answered(server, out.decode())


if __name__ == "__main__":
    unittest.main()
