# SPDX-License-Identifier: Apache-2.0
"""The end-to-end tests' one MQTT broker fixture: a private mosquitto on a
loopback port, which a test can stop (or kill) and start again on the same
port, with recorders that keep what goes over it and a publish helper.

    with Broker() as broker:                   # started on a free port
        recorder = broker.recorder()           # everything under sbapi/#
        env = dict(os.environ, **broker.client_env())   # SBAPI_BROKER for devsim
        ... start devsim with env ...
        recorder.wait_for(lambda got: len(got) >= 1)
        broker.publish("sbapi/DEV/down/1500", '{"valid":true}')
        broker.stop(kill=True)                 # the device loses its broker
        broker.start()                         # back on the same port

A recorder keeps (topic, payload) pairs in the order they arrive, payloads
as text (UTF-8); a copy that the broker re-delivers to the recorder itself
after a restart (DUP set, same message already recorded) is left out, so
every duplicate that remains was sent twice by the device. It holds a persistent session and the broker keeps it on
disk, so a recorder misses nothing across a restart, even after a kill:
what the device sends while the recorder is still reconnecting waits for it
in the broker. Make recorders before the traffic to record starts.

The configuration is the listener on 127.0.0.1, the settings that the C++
broker fixture uses too (tests/support/mosquitto.conf: anonymous clients, no
in-flight limit, a deep queue, TCP_NODELAY), and persistence. With
defaults=True only anonymous clients are allowed beyond Debian's defaults
(20 messages in flight and 1,000 queued per client); bind="" listens on
every address of the namespace.
Payloads and topics are str; paho-mqtt 1.6 (Debian's, /usr/bin/python3).
"""
import itertools
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

import paho.mqtt.client as mqtt
import paho.mqtt.publish as mqtt_publish

import harness

MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
_recorder_numbers = itertools.count(1)


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on right now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    """A private mosquitto on 127.0.0.1:port (a free port unless given).

    Started on construction unless start=False; close() (or leaving the
    with-block) stops it and the recorders and removes its files.
    """

    def __init__(self, port=None, start=True, defaults=False, bind="127.0.0.1"):
        self.port = port or free_port()
        self.dir = tempfile.mkdtemp(prefix="broker-")
        self.conf = os.path.join(self.dir, "mosquitto.conf")
        self.log = os.path.join(self.dir, "broker.log")
        self.db = os.path.join(self.dir, "mosquitto.db")
        self.process = None
        self.recorders = []
        with open(self.conf, "w") as conf:
            conf.write(
                f"listener {self.port} {bind}\n"
                + ("allow_anonymous true\n" if defaults else harness.support_text("mosquitto.conf")) +
                "persistence true\n"
                f"persistence_location {self.dir}/\n"
                "autosave_interval 0\n"  # saved at stop and on SIGUSR1 only
                "user root\n")  # keep root's rights to its folder (no effect for others)
        if start:
            self.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def address(self):
        return f"127.0.0.1:{self.port}"

    def client_env(self):
        """The environment that points devsim's bus client at this broker."""
        return {"SBAPI_BROKER": self.address()}

    def running(self):
        return self.process is not None and self.process.poll() is None

    def start(self, timeout=10):
        """Starts the broker and waits until it accepts connections."""
        assert not self.running(), "broker already running"
        with open(self.log, "ab") as log:
            self.process = subprocess.Popen([MOSQUITTO, "-c", self.conf],
                                            stdout=log, stderr=log)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("mosquitto exited:\n" + self.log_text())
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.5).close()
                return
            except OSError:
                time.sleep(0.02)
        raise RuntimeError("mosquitto does not accept connections:\n" + self.log_text())

    def stop(self, kill=False):
        """Stops the broker: SIGTERM (it saves its sessions), or SIGKILL."""
        if not self.running():
            return
        self.process.send_signal(signal.SIGKILL if kill else signal.SIGTERM)
        self.process.wait(timeout=10)

    def restart(self, kill=False):
        self.stop(kill)
        self.start()

    def save(self, timeout=10):
        """Makes the broker write its sessions to disk now (SIGUSR1)."""
        before = os.stat(self.db).st_mtime_ns if os.path.exists(self.db) else None
        self.process.send_signal(signal.SIGUSR1)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.db) and os.stat(self.db).st_mtime_ns != before:
                return
            time.sleep(0.02)
        raise RuntimeError("mosquitto did not save its database")

    def recorder(self, topic="sbapi/#", qos=1):
        """A Recorder of everything on topic (a filter), subscribed already.

        Needs the broker running; the session is saved at once so that it
        outlives a kill. At qos=0 the broker's queue limits never drop
        what it is sent.
        """
        rec = Recorder(self.port, topic, qos)
        self.recorders.append(rec)
        rec.wait_subscribed()
        self.save()
        return rec

    def publish(self, topic, payload, qos=1):
        """Publishes one message and returns once the broker has it."""
        mqtt_publish.single(topic, payload, qos=qos, hostname="127.0.0.1", port=self.port)

    def publish_many(self, messages, qos=1):
        """Publishes (topic, payload) pairs in order over one connection."""
        mqtt_publish.multiple([{"topic": t, "payload": p, "qos": qos} for t, p in messages],
                              hostname="127.0.0.1", port=self.port)

    def log_text(self):
        try:
            with open(self.log, errors="replace") as log:
                return log.read()
        except OSError:
            return ""

    def close(self):
        for rec in self.recorders:
            rec.close()
        self.recorders = []
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class Recorder:
    """(topic, payload) pairs as they arrive, with waiting helpers.

    Runs paho's network thread; reconnects every half second while the
    broker is away, with the same persistent session.
    """

    def __init__(self, port, topic, qos):
        self.topic = topic
        self.qos = qos
        self._got = []
        self._changed = threading.Condition()
        self._subscriptions = 0
        self._client = mqtt.Client(client_id=f"recorder-{os.getpid()}-{next(_recorder_numbers)}",
                                   clean_session=False)
        self._client.on_connect = self._on_connect
        self._client.on_subscribe = self._on_subscribe
        self._client.on_message = self._on_message
        self._client.reconnect_delay_set(min_delay=0.2, max_delay=0.5)
        self._client.connect_async("127.0.0.1", port, keepalive=30)
        self._client.loop_start()

    def _on_connect(self, client, userdata, flags, rc):
        if rc == 0:
            client.subscribe(self.topic, qos=self.qos)

    def _on_subscribe(self, client, userdata, mid, granted_qos):
        with self._changed:
            self._subscriptions += 1
            self._changed.notify_all()

    def _on_message(self, client, userdata, message):
        got = (message.topic, message.payload.decode("utf-8", "replace"))
        with self._changed:
            # A broker stopped between our receipt and its sight of our
            # acknowledgement hands the message over again after the
            # restart, marked DUP; that copy is our session's, not news.
            if message.dup and got in self._got[-1000:]:
                return
            self._got.append(got)
            self._changed.notify_all()

    def wait_subscribed(self, timeout=10):
        with self._changed:
            if not self._changed.wait_for(lambda: self._subscriptions > 0, timeout):
                raise AssertionError(f"recorder not subscribed to {self.topic} within {timeout} s")

    def messages(self):
        """A copy of the (topic, payload) pairs recorded so far."""
        with self._changed:
            return list(self._got)

    def payloads(self, topic):
        """The payloads recorded on one exact topic, in order."""
        return [p for t, p in self.messages() if t == topic]

    def wait_for(self, predicate, timeout=15):
        """Waits until predicate(messages) is true; returns the messages.

        On time-out raises AssertionError listing what did arrive.
        """
        with self._changed:
            if self._changed.wait_for(lambda: predicate(list(self._got)), timeout):
                return list(self._got)
            got = "\n".join(f"  {t} {p[:200]}" for t, p in self._got[-30:])
        raise AssertionError(f"not seen within {timeout} s; last messages:\n{got}")

    def close(self):
        self._client.disconnect()
        self._client.loop_stop()
