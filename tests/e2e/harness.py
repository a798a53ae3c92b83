# SPDX-License-Identifier: Apache-2.0
"""Shared pieces of the end-to-end tests: where the programs are, how to start
them (through the emulator for a cross build), and scratch folders.

The tests run inside sandbox.sh, so /mnt/vexa/set, /etc/orvane and port 514
are private to them.
"""
import os
import pathlib
import shlex
import socket
import subprocess
import tempfile

DEVSIM = os.environ.get("DEVSIM", "")
LOGFWD = os.environ.get("LOGFWD", "")
VERSION = os.environ.get("CTRLTOOLS_VERSION", "")  # the project's version, from the build
# The emulator that runs a cross-built program ("qemu-arm -L ..."), or empty.
EMULATOR = shlex.split(os.environ.get("EMULATOR", ""))

SETTINGS_DIR = "/mnt/vexa/set"
# libfaketime, preloaded: it reaches native programs only, not one that the emulator runs.
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# Texts shared with the C++ tests (the table menu page, the brokers' settings).
SUPPORT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")


def support_text(name):
    """The text of a file in tests/support."""
    with open(os.path.join(SUPPORT_DIR, name)) as text:
        return text.read()


def command(program, *args):
    """The argv that runs program (a path) with args, through the emulator if any."""
    return EMULATOR + [program] + [str(a) for a in args]


def run(program, *args, timeout=60, **kwargs):
    """Runs program to its end; returns the CompletedProcess (bytes output)."""
    return subprocess.run(command(program, *args), capture_output=True,
                          timeout=timeout, **kwargs)


def run_logfwd(*args, **kwargs):
    """Runs logfwd with args to its end: its standard output (text) and exit status."""
    result = run(LOGFWD, *args, **kwargs)
    return result.stdout.decode("utf-8", "replace"), result.returncode


def sent_line(path, count):
    """logfwd's report of a file sent."""
    return "Successfully sent %d logs from %s file\n" % (count, path)


def start(program, *args, **kwargs):
    """Starts program in the background with its output piped."""
    return subprocess.Popen(command(program, *args), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, **kwargs)


def scratch_dir(test_case):
    """A temporary folder removed when the test case ends."""
    holder = tempfile.TemporaryDirectory()
    test_case.addCleanup(holder.cleanup)
    return holder.name


def debian_hosts(test_case):
    """The localhost lines of Debian's default /etc/hosts, in the sandbox's
    private /etc for the length of the test: localhost is ::1, then 127.0.0.1."""
    hosts = pathlib.Path("/etc/hosts")
    test_case.addCleanup(hosts.write_text, hosts.read_text())
    hosts.write_text("127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n")
    test_case.assertEqual(socket.getaddrinfo("localhost", 514, type=socket.SOCK_STREAM)[0][0],
                          socket.AF_INET6)


def in_sandbox():
    return os.environ.get("CTRLTOOLS_SANDBOX") == "inside"


def sanitized(program):
    """True for a binary built with AddressSanitizer (and so LeakSanitizer)."""
    if not os.path.isfile(program):
        return False
    with open(program, "rb") as binary:
        return b"__asan_init" in binary.read()


def resident_kb(pid):
    """The resident size of process pid in KiB (VmRSS)."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")
