# SPDX-License-Identifier: Apache-2.0
"""devsim end to end: the real program against a private mosquitto broker.

Covers the command line, the FID file, the registration handshake (exact
announcement, acceptance, refusal, withdrawal), the periodic messages with
and without a template file, and a broker restart under a running device.
Runs inside sandbox.sh, so /mnt/vexa/set is a private tmpfs.
"""
import calendar
import json
import os
import signal
import subprocess
import time
import unittest

import harness
from broker import Broker

FID = "DEV-1"
CONTROLLER = "CTRL-7"
FID_FILE = os.path.join(harness.SETTINGS_DIR, "pidev_fid")
TEMPLATE_2 = os.path.join(harness.SETTINGS_DIR, "test_msg2")

ANNOUNCEMENT = '{"fid":"DEV-1","gw_fid":"CTRL-7","cstate":1,"gw_v":"0.00","fw_v":"0.09"}'
WITHDRAWAL = '{"fid":"DEV-1","gw_fid":"CTRL-7","cstate":0,"gw_v":"0.00","fw_v":"0.09"}'
NAME_REPORT = '{"fid":"DEV-1","name":"devsim","data":[]}'
MESSAGE_2 = (
    '{"fid":"DEV-1","time_stamp":"%s","wellcast":{"measurement_ind":55,"service_ind":7,'
    '"wellcast_data":[{"h_id":"0","percent":60,"days":10},{"h_id":"2","percent":74,"days":7},'
    '{"h_id":"4","percent":95,"days":11},{"h_id":"22","percent":74,"days":7},'
    '{ "h_id":"23","percent":74}]},"errors":[],"warnings":[{"db":"sensor","index":294208982},'
    '{"db":"sensor","index":295210981}],"processevents":[],"reminders":[]}')
MESSAGE_3 = (
    '{"fid":"DEV-1","hold":0,"time":"%s","data":[{"c":0,"p":"ce976ad0-1bd1-4a1f-9ba6-0130fba53c7e",'
    '"u":"8503d0cf-1438-49c3-8201-2f4c0e36c49d","v":%s,"pr":2,"tn":0},'
    '{"c":0,"p":"984c5c19-0292-438f-9f4e-32b2a0aa18a4","u":"8503d0cf-1438-49c3-8201-2f4c0e36c49d",'
    '"v":5.1,"pr":2,"tn":6,"o":1},{"c":0,"p":"84b8bd7f-2420-4e16-855f-7278c5fcf990",'
    '"u":"8503d0cf-1438-49c3-8201-2f4c0e36c49d","v":0.4,"pr":2,"tn":12},'
    '{"c":0,"p":"33a6a71a-1606-45fb-94c0-b34082919ca0","u":"8503d0cf-1438-49c3-8201-2f4c0e36c49d",'
    '"v":0.2,"pr":2,"tn":15},{"c":0,"p":"357d0ea1-a521-43e8-99ae-81aa426b102f",'
    '"u":"c821a323-7275-4d50-96ec-c0a37223cf67","v":22.1,"pr":1,"tn":18}]}')

START_TRACE = ('devsim CTRL-7 5 devsim_main:516 main: starting with fid "DEV-1" '
               '(device_name = "devsim" logging_slot_name = "devsim")')
ACCEPT_TRACE = 'devsim CTRL-7 6 devsim_main:421 callback_msgtype_1500: device "DEV-1" is accepted'
REFUSAL_TRACE = ('devsim CTRL-7 2 devsim_main:427 callback_msgtype_1500: '
                 'device "DEV-1" is not accepted - aborting ..')
STOP_TRACE = 'devsim CTRL-7 5 devsim_main:571 main: stopped "devsim" with fid "DEV-1" (signal %d)'


def topic(direction, message_type, fid=FID):
    return f"sbapi/{fid}/{direction}/{message_type}"


def up_messages(messages, fid=FID):
    """(type, payload) of what the device sent, in order."""
    prefix = f"sbapi/{fid}/up/"
    return [(int(t[len(prefix):]), p) for t, p in messages if t.startswith(prefix)]


def up_types(messages, fid=FID):
    return [t for t, _ in up_messages(messages, fid)]


def builtin_2(payload):
    """Message 2 as the built-in form would be with its own time stamp."""
    return MESSAGE_2 % json.loads(payload)["time_stamp"]


def builtin_3(payload):
    data = json.loads(payload)
    return MESSAGE_3 % (data["time"], payload.split('"v":', 1)[1].split(",", 1)[0])


class Device:
    """devsim running in the background against a broker.

    Its trace (standard error) goes to a file, so that nothing blocks on a
    full pipe; standard output is kept for the end. Killed at cleanup.
    """

    def __init__(self, test, broker, fid=FID, *args, env=None, interval=1):
        self.trace_path = os.path.join(harness.scratch_dir(test), "trace")
        full_env = dict(os.environ, CONTROLLER_FID=CONTROLLER)
        if broker is not None:
            full_env.update(broker.client_env())
        for name, value in (env or {}).items():
            if value is None:
                full_env.pop(name, None)
            else:
                full_env[name] = value
        argv = [fid] + (list(args) if args else ["devsim", interval])
        with open(self.trace_path, "wb") as trace:
            self.process = subprocess.Popen(harness.command(harness.DEVSIM, *argv),
                                            stdout=subprocess.PIPE, stderr=trace, env=full_env)
        test.addCleanup(self.kill)

    def traces(self):
        """The trace records without their time stamps."""
        with open(self.trace_path, errors="replace") as trace:
            return [line.rstrip("\n").split(" ", 1)[1] for line in trace if " " in line]

    def wait_for_trace(self, text, timeout=15):
        """Waits until a trace record holds text."""
        deadline = time.monotonic() + timeout
        while not any(text in t for t in self.traces()):
            if time.monotonic() > deadline:
                raise AssertionError(f"no trace with {text!r} within {timeout} s")
            time.sleep(0.05)

    def devsim_traces(self):
        """Only devsim's own records (not the bus client's)."""
        return [t for t in self.traces() if " devsim_main:" in t]

    def signal(self, number):
        self.process.send_signal(number)

    def wait(self, timeout=15):
        """Waits for the end; returns (exit status, standard output)."""
        out, _ = self.process.communicate(timeout=timeout)
        return self.process.returncode, out

    def alive(self):
        return self.process.poll() is None

    def kill(self):
        if self.alive():
            self.process.kill()
            self.process.communicate()


def accept(broker, recorder, fid=FID):
    """Waits for the announcement and accepts the device."""
    recorder.wait_for(lambda got: 1500 in up_types(got, fid))
    broker.publish(topic("down", 1500, fid), '{"valid":true}')


def remove(path):
    if os.path.exists(path):
        os.remove(path)


class CommandLine(unittest.TestCase):
    def test_usage_and_version_exit_with_their_status_and_nothing_else(self):
        name = harness.DEVSIM  # argv[0] is the path it was started by, also under the emulator
        usage = ("usage:\n"
                 f"    {name} <FID> [<device_name=devsim> [<send_interval_secs=30>]]\n"
                 " or\n"
                 f"    {name} -v\n"
                 "\n")
        version = f"{harness.VERSION}\n"
        # arguments, exact standard output, exit status; never a trace or the FID file
        cases = [
            ([], usage, 1),
            (["-v"], version, 0),
            (["-v", "x", "5"], version, 0),
            (["-v", "DEV-1", "name", "5"], version, 0),
        ]
        for args, output, status in cases:
            with self.subTest(args=args):
                remove(FID_FILE)
                result = harness.run(harness.DEVSIM, *args)
                self.assertEqual((result.stdout.decode(), result.returncode, result.stderr),
                                 (output, status, b""))
                self.assertFalse(os.path.exists(FID_FILE))


class Defaults(unittest.TestCase):
    def test_fid_file_is_rewritten_and_the_broker_defaults_to_port_1883(self):
        if not harness.in_sandbox():
            self.skipTest("needs the sandbox's own port 1883 and /mnt")
        broker = Broker(port=1883)
        self.addCleanup(broker.close)
        recorder = broker.recorder()
        with open(FID_FILE, "w") as old:
            old.write("A-MUCH-LONGER-OLD-FID\nand a second line\n")
        device = Device(self, None, env={"SBAPI_BROKER": None})
        recorder.wait_for(lambda got: up_types(got) == [1500])
        with open(FID_FILE) as written:
            self.assertEqual(written.read(), "DEV-1\n")
        device.signal(signal.SIGTERM)
        self.assertEqual(device.wait(), (0, b""))


class Registration(unittest.TestCase):
    def setUp(self):
        self.broker = Broker()
        self.addCleanup(self.broker.close)
        self.recorder = self.broker.recorder()

    def test_acceptance_gives_name_report_then_2_then_3_and_sigterm_withdraws(self):
        device = Device(self, self.broker)
        got = self.recorder.wait_for(lambda got: 1500 in up_types(got))
        self.assertEqual(up_messages(got), [(1500, ANNOUNCEMENT)])
        self.broker.publish(topic("down", 1500), '{"valid":true}')
        got = self.recorder.wait_for(lambda got: len(up_types(got)) >= 4)
        sent = up_messages(got)[:4]
        self.assertEqual([t for t, _ in sent], [1500, 1501, 2, 3])
        self.assertEqual(sent[1][1], NAME_REPORT)
        self.assertEqual(sent[2][1], builtin_2(sent[2][1]))
        self.assertEqual(sent[3][1], builtin_3(sent[3][1]))
        self.assertEqual(len(json.loads(sent[2][1])["time_stamp"]), 20)
        self.assertTrue(1.4 <= json.loads(sent[3][1])["data"][0]["v"] <= 2.0)

        device.signal(signal.SIGTERM)
        self.assertEqual(device.wait(), (0, b""))
        got = self.recorder.wait_for(lambda got: up_messages(got)[-1] == (1500, WITHDRAWAL))
        self.assertEqual(up_types(got).count(1500), 2)
        self.assertEqual(device.devsim_traces(), [START_TRACE, ACCEPT_TRACE, STOP_TRACE % 15])

    def test_refusal_withdraws_and_exits_0(self):
        device = Device(self, self.broker)
        self.recorder.wait_for(lambda got: 1500 in up_types(got))
        self.broker.publish(topic("down", 1500), '{"valid":false}')
        self.assertEqual(device.wait(), (0, b""))
        got = self.recorder.wait_for(lambda got: len(up_types(got)) == 2)
        self.assertEqual(up_messages(got), [(1500, ANNOUNCEMENT), (1500, WITHDRAWAL)])
        self.assertEqual(device.devsim_traces(), [START_TRACE, REFUSAL_TRACE, STOP_TRACE % 0])

    def test_a_fid_too_long_for_a_topic_exits_1_unannounced(self):
        device = Device(self, self.broker, "F" * 70000)
        self.assertEqual(device.wait(), (1, b""))
        self.assertIn(" 2 sbapi_mqtt:", device.traces()[1])
        self.assertIn("FID of 70000 bytes gives topics of up to 70016 bytes, over MQTT's 65535", device.traces()[1])
        self.assertIn(" 2 devsim_main:520 main: device", device.traces()[2])
        self.assertEqual(self.recorder.messages(), [])

    def test_fid_and_name_outside_utf8_give_valid_json(self):
        # The bytes e9 't' e9 and "caf" e9: written \u00XX, so the FID reads as "\u00e9t\u00e9".
        Device(self, self.broker, os.fsdecode(b"\xe9t\xe9"), os.fsdecode(b"caf\xe9"), 3600)
        level = "%C3%A9t%C3%A9"
        accept(self.broker, self.recorder, level)
        got = self.recorder.wait_for(lambda got: 1501 in up_types(got, level))
        self.assertEqual(up_messages(got, level), [
            (1500, '{"fid":"\\u00e9t\\u00e9","gw_fid":"CTRL-7","cstate":1,"gw_v":"0.00","fw_v":"0.09"}'),
            (1501, '{"fid":"\\u00e9t\\u00e9","name":"caf\\u00e9","data":[]}')])
        self.assertEqual(json.loads(up_messages(got, level)[1][1])["fid"], "\u00e9t\u00e9")

    def test_a_template_written_while_running_takes_effect_at_the_next_send(self):
        self.addCleanup(remove, TEMPLATE_2)
        Device(self, self.broker)
        accept(self.broker, self.recorder)
        got = self.recorder.wait_for(lambda got: 2 in up_types(got))
        first = [p for t, p in up_messages(got) if t == 2][0]
        self.assertEqual(first, builtin_2(first))
        with open(TEMPLATE_2, "w") as template:
            template.write('"errors":[],\n"reminders":[]\n')
        got = self.recorder.wait_for(
            lambda got: any('"errors":[],"reminders":[]}' in p for t, p in up_messages(got) if t == 2))
        from_file = [p for t, p in up_messages(got) if t == 2 and '"wellcast"' not in p][0]
        stamp = json.loads(from_file)["time_stamp"]
        self.assertEqual(from_file, '{"fid":"DEV-1","time_stamp":"%s","errors":[],"reminders":[]}' % stamp)


class BrokerRestart(unittest.TestCase):
    def test_periodic_messages_resume_in_order_after_a_broker_restart(self):
        broker = Broker()
        self.addCleanup(broker.close)
        recorder = broker.recorder()
        device = Device(self, broker)
        accept(broker, recorder)
        recorder.wait_for(lambda got: up_types(got).count(3) >= 1)
        broker.stop()
        device.wait_for_trace(f" on_disconnect: lost broker {broker.address()} (")
        broker.start()
        restarted = time.time()
        got = recorder.wait_for(lambda got: any(
            t == 2 and stamp_seconds(p) > restarted + 1 for t, p in up_messages(got)), timeout=20)
        self.assertTrue(device.alive())
        periodic = [(t, p) for t, p in up_messages(got) if t in (2, 3)]
        assert_in_order(self, periodic)
        self.assertEqual(up_types(got)[:2], [1500, 1501])
        self.assertNotIn(1500, up_types(got)[2:])


@unittest.skipIf(harness.EMULATOR or not os.path.exists(harness.FAKETIME),
                 "libfaketime preloads into native x86-64 programs only")
class ClockStep(unittest.TestCase):
    def test_messages_keep_their_interval_when_the_wall_clock_steps_back(self):
        broker = Broker()
        self.addCleanup(broker.close)
        recorder = broker.recorder()
        offset = os.path.join(harness.scratch_dir(self), "offset")
        with open(offset, "w") as f:
            f.write("+0")
        # The wall clock as libfaketime gives it, re-read at every call; the monotonic clock untouched.
        Device(self, broker, FID, "devsim", 0, env={"LD_PRELOAD": harness.FAKETIME, "FAKETIME_TIMESTAMP_FILE": offset,
                                                    "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
        accept(broker, recorder)
        got = recorder.wait_for(lambda got: up_types(got).count(3) >= 1)
        before = stamp_seconds([p for t, p in up_messages(got) if t == 2][-1])
        sent = up_types(got).count(3)
        with open(offset, "w") as f:
            f.write("-3600")  # as after an NTP correction an hour back
        # Interval 0: a pair whenever a new second has begun, so two more within 5 s.
        got = recorder.wait_for(lambda got: up_types(got).count(3) >= sent + 2, timeout=5)
        stamps = [stamp_seconds(p) for t, p in up_messages(got) if t == 2]
        self.assertLess(stamps[-1], before - 3000, "the wall clock did not step")
        periodic = [t for t in up_types(got) if t in (2, 3)]
        self.assertEqual(periodic, [2, 3] * (len(periodic) // 2))


def stamp_seconds(payload):
    """The time stamp of message 2 or 3 as seconds since the epoch."""
    data = json.loads(payload)
    stamp = data.get("time_stamp") or data["time"]
    return calendar.timegm(time.strptime(stamp, "%Y-%m-%dT%H:%M:%SZ"))


def assert_in_order(test, periodic):
    """Message 2 and 3 alternate, 2 first, and each pair is later than the last."""
    test.assertEqual([t for t, _ in periodic], [2, 3] * (len(periodic) // 2) + [2] * (len(periodic) % 2))
    stamps = [stamp_seconds(p) for t, p in periodic if t == 2]
    test.assertEqual(stamps, sorted(set(stamps)), "time stamps of message 2 repeat or go back")


if __name__ == "__main__":
    unittest.main()
