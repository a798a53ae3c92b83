# SPDX-License-Identifier: Apache-2.0
"""devsim's menu and settings requests end to end: the real program against
a private mosquitto broker. Each request published on sbapi/<fid>/down/2000
gets exactly one reply on sbapi/<fid>/up/2001, byte for byte; bad input of
every sort gets one reply that is valid JSON, and the device goes on
answering without growing.
"""
import json
import unittest

import harness
from broker import Broker
from test_devsim import ACCEPT_TRACE, FID, START_TRACE, Device, accept, topic

REQUESTS = topic("down", 2000)
REPLIES = topic("up", 2001)

TABLE_PAGE = harness.support_text("table_page.json").rstrip("\n")

# (request, exact reply, devsim's own trace records without time stamps)
EXCHANGES = [
    ('{"sequence_id":"menu_entry","ref_id":"11","data":{"menu_reference":{"reference":1}}}',
     '{"fid":"DEV-1","sequence_id":"menu_entry","success":1,"ref_id":"11","data":' + TABLE_PAGE + '}',
     ["devsim CTRL-7 5 devsim_main:452 callback_msgtype_2000: data.menu_reference.reference gives 1"]),
    ('{"sequence_id":"menu_edit","ref_id":"12","data":{"menu_reference":{"reference":32770}}}',
     '{"fid":"DEV-1","sequence_id":"menu_entry","success":1,"ref_id":"12","data":{"layout":"home"}}',
     ["devsim CTRL-7 5 devsim_main:452 callback_msgtype_2000: data.menu_reference.reference gives 32770"]),
    ('{"sequence_id":"menu_entry","ref_id":"13","data":{"menu_reference":{"reference":5}}}',
     '{"fid":"DEV-1","sequence_id":"menu_entry","success":0,"ref_id":"13","data":{}}',
     ["devsim CTRL-7 5 devsim_main:452 callback_msgtype_2000: data.menu_reference.reference gives 5",
      "devsim CTRL-7 2 devsim_main:62 build_menu_data: menu_reference 5 not handled"]),
    ('{"sequence_id":"get_all_settings","ref_id":"14"}',
     '{"fid":"DEV-1","sequence_id":"get_all_settings","success":true,"data":{"parameters":1,'
     '"temperature_adjustment":0.100000,"automatic_potassium_compensation":false,'
     '"potassium_compensation_value":0.400000,"automatic_chloride_compensation":false,'
     '"chloride_compensation_value":0.200000,"response_time":12}}',
     []),
    ('{"sequence_id":"menu_state_ask","ref_id":"15"}',
     '{"fid":"DEV-1","sequence_id":"menu_state_ask","success":true,"ref_id":"15","data":{"reference":32769}}',
     []),
    ('{"sequence_id":"set_lock_status","ref_id":"16","data":{"lock":1}}',
     '{"fid":"DEV-1","sequence_id":"set_lock_status","success":true,"ref_id":"16"}',
     []),
    ('{"sequence_id":"Menu_Entry","ref_id":"17"}',
     '{"fid":"DEV-1","sequence_id":"Menu_Entry","success":false,"ref_id":"17","data":{}}',
     ['devsim CTRL-7 2 devsim_main:471 callback_msgtype_2000: sequence_id "Menu_Entry" not handled']),
    ('{"sequence_id":"set_lock_status","ref_id":"\\",\\"x\\":\\"\\\\"}',
     '{"fid":"DEV-1","sequence_id":"set_lock_status","success":true,"ref_id":"\\",\\"x\\":\\"\\\\"}',
     []),
]

MEGABYTE = 1 << 20
FAILURE = '{"fid":"DEV-1","sequence_id":"%s","success":false,"ref_id":"","data":{}}'
NO_PAGE = '{"fid":"DEV-1","sequence_id":"menu_entry","success":0,"ref_id":"r","data":{}}'
# (request bytes, exact reply)
BAD_EXCHANGES = [
    (b'', FAILURE % ""),
    (b'{"sequence_id":"menu_entry","ref_id":"r"', FAILURE % ""),
    (b'{"sequence_id":"set_lock_status","ref_id":"\xff\xfe"}', FAILURE % ""),
    (b'{"sequence_id":"set_lock_status","ref_id":"big","pad":"' + b"x" * MEGABYTE + b'"}',
     '{"fid":"DEV-1","sequence_id":"set_lock_status","success":true,"ref_id":"big"}'),
    (b"[" * MEGABYTE, FAILURE % ""),
    (b'{"sequence_id":"menu_entry","data":' + b"[" * 5000 + b"]" * 5000 + b"}", FAILURE % ""),
    (b'{"sequence_id":"' + b'\\"' * 10000 + b'"}', FAILURE % ('\\"' * 49)),
    (b'{"sequence_id":"' + "\u00e9".encode() * 5000 + b'"}', FAILURE % ("\u00e9" * 24)),
    (b'{"sequence_id":"menu_entry","ref_id":"r","data":{"menu_reference":{"reference":"1"}}}', NO_PAGE),
    (b'{"sequence_id":"menu_entry","ref_id":"r","data":{"menu_reference":{"reference":1.5}}}',
     '{"fid":"DEV-1","sequence_id":"menu_entry","success":1,"ref_id":"r","data":' + TABLE_PAGE + '}'),
    (b'{"sequence_id":"menu_entry","ref_id":"r","data":{"menu_reference":{"reference":4294967297}}}', NO_PAGE),
]
BAD_REQUESTS = [request for request, _ in BAD_EXCHANGES]
LAST = EXCHANGES[4]  # a plain request after the bad ones: still answered, nothing extra before it


class MenuRequests(unittest.TestCase):
    def setUp(self):
        self.broker = Broker()
        self.addCleanup(self.broker.close)
        self.recorder = self.broker.recorder(REPLIES)
        everything = self.broker.recorder()
        self.device = Device(self, self.broker, FID, "devsim", 3600)
        accept(self.broker, everything)

    def replies(self):
        return self.recorder.payloads(REPLIES)

    def exchange(self, payloads):
        """Publishes the requests in order; returns the replies to them."""
        before = len(self.replies())
        self.broker.publish_many([(REQUESTS, p) for p in payloads])
        wanted = before + len(payloads)
        self.recorder.wait_for(lambda got: len(self.replies()) >= wanted, timeout=60)
        return self.replies()[before:]

    def test_each_kind_gets_its_exact_reply(self):
        # All at once: the device answers in the order they arrive.
        replies = self.exchange([request for request, _, _ in EXCHANGES])
        self.assertEqual(len(replies), len(EXCHANGES))
        for (request, reply, _), got in zip(EXCHANGES, replies):
            with self.subTest(request=request):
                self.assertEqual(got, reply)
        expected_traces = [START_TRACE, ACCEPT_TRACE] + [t for _, _, traces in EXCHANGES for t in traces]
        self.assertEqual(self.device.devsim_traces(), expected_traces)

    def test_bad_input_gets_one_valid_reply_each(self):
        replies = self.exchange(BAD_REQUESTS + [LAST[0]])
        self.assertEqual(len(replies), len(BAD_REQUESTS) + 1)
        for (request, expected), reply in zip(BAD_EXCHANGES, replies):
            with self.subTest(request=request[:60]):
                self.assertEqual(reply, expected)
                self.assertEqual(json.loads(reply)["fid"], FID)
        self.assertEqual(replies[-1], LAST[1])
        # A stray extra reply would come before the answer to a later request.
        self.assertEqual(self.exchange([LAST[0]]), [LAST[1]])
        self.assertEqual(len(self.replies()), len(BAD_REQUESTS) + 2)
        self.assertTrue(self.device.alive())

    @unittest.skipIf(harness.sanitized(harness.DEVSIM),
                     "AddressSanitizer's quarantine holds freed memory back; "
                     "LeakSanitizer checks this build for leaks instead")
    def test_bad_input_leaves_no_growth(self):
        pid = self.device.process.pid
        self.exchange(BAD_REQUESTS)  # the first round sets the heap's shape
        self.exchange(BAD_REQUESTS)
        before = harness.resident_kb(pid)
        for _ in range(5):
            self.exchange(BAD_REQUESTS)
        grown = harness.resident_kb(pid) - before
        self.assertLess(grown, 4096, f"resident size grew by {grown} kB over 5 rounds")
        self.assertEqual(self.exchange([LAST[0]]), [LAST[1]])


if __name__ == "__main__":
    unittest.main()
