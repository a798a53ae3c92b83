# SPDX-License-Identifier: Apache-2.0
"""burst.py BUILD_DIR [REQUESTS [BURSTS]]: time from publishing a burst of
table-page requests ("menu_entry", reference 1, replies of about 1.5 kB) to
the last reply at the controller's side (the device is stopped while the
requests are published, so that all of them arrive in one pass), for devsim against a private
mosquitto broker, and devsim's resident size after each burst. Runs itself
inside tests/e2e/sandbox.sh, so that /mnt/vexa/set and the network settings
are private. SEND_BUFFER=BYTES caps the TCP send buffers there (as on a
controller with little memory; loopback's own grow to 4 MB). BROKER=default
runs the broker with Debian's defaults (20 messages in flight and 1,000
queued per client), publishes each burst while the device runs, and records
the replies at QoS 0, past the broker's limits; a burst that is not answered
whole within 30 s counts the replies that came.
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
if os.environ.get("CTRLTOOLS_SANDBOX") != "inside":
    os.execv("/bin/sh", ["/bin/sh", os.path.join(ROOT, "tests/e2e/sandbox.sh"), "/usr/bin/python3"]
             + sys.argv)
sys.path.insert(0, os.path.join(ROOT, "tests/e2e"))

from broker import Broker  # noqa: E402
from harness import resident_kb  # noqa: E402
from test_devsim import FID, topic, up_types  # noqa: E402
from test_devsim_bursts import TABLE_REQUEST, request_burst  # noqa: E402


def main():
    build = sys.argv[1]
    requests = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    bursts = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    if os.environ.get("SEND_BUFFER"):
        with open("/proc/sys/net/ipv4/tcp_wmem", "w") as setting:
            setting.write("4096 16384 %d" % int(os.environ["SEND_BUFFER"]))
    defaults = os.environ.get("BROKER") == "default"
    with Broker(defaults=defaults) as broker:
        everything = broker.recorder()
        replies = broker.recorder(topic("up", 2001), qos=0 if defaults else 1)
        env = dict(os.environ, CONTROLLER_FID="CTRL-7", **broker.client_env())
        device = subprocess.Popen([os.path.join(build, "devsim/devsim"), FID, "devsim", "3600"],
                                  stderr=subprocess.DEVNULL, env=env)
        try:
            everything.wait_for(lambda got: 1500 in up_types(got))
            broker.publish(topic("down", 1500), '{"valid":true}')
            everything.wait_for(lambda got: 1501 in up_types(got))
            print("burst requests replies seconds_to_last_reply rss_kib")
            for n in range(bursts):
                before = len(replies.messages())
                try:
                    _, seconds = request_burst(broker, replies, TABLE_REQUEST, f"b{n}-", requests,
                                               None if defaults else device, timeout=30 if defaults else 120)
                except AssertionError:
                    seconds = float("nan")
                got = len(replies.messages()) - before
                print(f"{n + 1} {requests} {got} {seconds:.2f} {resident_kb(device.pid)}")
        finally:
            device.terminate()
            device.wait()


if __name__ == "__main__":
    main()
