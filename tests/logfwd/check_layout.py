# SPDX-License-Identifier: Apache-2.0
"""logfwd's layout, as its build enforces it: the program's folder uses
files/, transport/ and base/; files/ and transport/ use base/ only, and never
each other; base/ uses nothing. No two files of logfwd include each other,
directly or through others, and OpenSSL's headers are included by the TLS
sources of transport/ alone.

Usage: check_layout.py SOURCE_DIR BUILD_DIR. It reads every include of
logfwd's sources, and compiles probes with the flags the build gives files/
and transport/ (compile_commands.json): a header of the other folder must not
be found, a header of its own must."""
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR, BUILD_DIR = sys.argv[1:3] if len(sys.argv) >= 3 else ("", "")
del sys.argv[1:3]
LOGFWD = os.path.join(SOURCE_DIR, "logfwd")
# The folders of logfwd ("" is the program's own) and those each may include from.
MAY_USE = {"": ["", "files", "transport", "base"], "files": ["files", "base"],
           "transport": ["transport", "base"], "base": ["base"]}
# Outside logfwd: the platform's declarations (the program only) and the version header.
OUTSIDE = {"": [os.path.join(SOURCE_DIR, "platform", "include")]}
OPENSSL_SOURCES = {"transport/tls_context.cpp", "transport/tls_session.cpp",
                   "transport/stream_transport.cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def sources():
    """{path relative to logfwd/: its includes as (kind, name)}."""
    found = {}
    for folder in MAY_USE:
        for name in sorted(os.listdir(os.path.join(LOGFWD, folder))):
            if name.endswith((".h", ".cpp")):
                with open(os.path.join(LOGFWD, folder, name)) as text:
                    found[os.path.join(folder, name)] = INCLUDE.findall(text.read())
    return found


def resolve(folder, name):
    """The logfwd file that a quoted include in folder finds, "" for one outside
    logfwd that it may use, or None."""
    for used in MAY_USE[folder]:
        if os.path.isfile(os.path.join(LOGFWD, used, name)):
            return os.path.join(used, name)
    outside = OUTSIDE.get(folder, [])
    if name == "ctrltools_version.h" or any(os.path.isfile(os.path.join(d, name)) for d in outside):
        return ""
    return None


class IncludeGraph(unittest.TestCase):
    def test_every_include_stays_within_the_folders_its_library_may_use(self):
        wrong = []
        for path, includes in sources().items():
            folder = os.path.dirname(path)
            for kind, name in includes:
                if kind == '"' and ("/" in name or resolve(folder, name) is None):
                    wrong.append("%s includes \"%s\"" % (path, name))
        self.assertEqual(wrong, [])

    def test_no_two_files_include_each_other(self):
        # A header and its source are one file here: archive_snapshot.cpp
        # including archive_names.h while archive_names.cpp includes
        # archive_snapshot.h is a cycle.
        module = lambda path: os.path.splitext(path)[0]
        graph = {}
        for path, includes in sources().items():
            used = {module(resolve(os.path.dirname(path), name) or "") for kind, name in includes
                    if kind == '"'}
            graph.setdefault(module(path), set()).update(used - {module(path), ""})
        cycles = []

        def visit(path, trail):
            if path in trail:
                cycles.append(" -> ".join(trail[trail.index(path):] + [path]))
                return
            for included in sorted(graph.get(path, ())):
                visit(included, trail + [path])
        for path in graph:
            visit(path, [])
        self.assertEqual(cycles, [])

    def test_openssl_only_in_the_tls_sources(self):
        users = {path for path, includes in sources().items()
                 if any(kind == "<" and name.startswith("openssl/") for kind, name in includes)}
        self.assertTrue(users)
        self.assertLessEqual(users, OPENSSL_SOURCES)


class StandardOutput(unittest.TestCase):
    def test_only_the_report_writes_it(self):
        # The progress line is taken off the terminal by report.cpp's writer:
        # a message written anywhere else would land in the middle of it.
        writes = re.compile(r"std::cout|(?<![sn])printf\s*\(|\bputs\s*\(|STDOUT_FILENO|\bstdout\b")
        writers = set()
        for path in sources():
            with open(os.path.join(LOGFWD, path)) as text:
                if writes.search(text.read()):
                    writers.add(path)
        self.assertEqual(writers, {"report.cpp"})


class CompileProbe(unittest.TestCase):
    """A probe compiled as a source of files/ or transport/ would be."""

    @classmethod
    def setUpClass(cls):
        with open(os.path.join(BUILD_DIR, "compile_commands.json")) as listing:
            cls.commands = json.load(listing)
        cls.work = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def compile_as(self, source, include):
        """Compiles '#include "include"' with the flags of logfwd/source: the
        compiler's result and its messages."""
        entry = next(e for e in self.commands
                     if os.path.realpath(e["file"]) == os.path.realpath(os.path.join(LOGFWD, source)))
        words = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        flags, skip = [], False
        for word in words[1:]:
            if skip:
                skip = False
            elif word in ("-o", "-c", "-MT", "-MF"):
                skip = True
            elif word != "-MD":
                flags.append(word)
        probe = os.path.join(self.work.name, "probe.cpp")
        with open(probe, "w") as out:
            out.write('#include "%s"\n' % include)
        result = subprocess.run([words[0]] + flags + ["-fsyntax-only", probe], cwd=entry["directory"],
                                capture_output=True, text=True)
        return result.returncode, result.stderr

    def test_a_folder_cannot_include_the_other(self):
        # (a source of the folder, its own header, the other folder's header)
        for source, own, other in (("files/archive_names.cpp", "archive_snapshot.h", "syslog_transport.h"),
                                   ("transport/udp_transport.cpp", "frame_queue.h", "archive_names.h"),
                                   ("base/stop_signals.cpp", "monotonic_clock.h", "line_source.h")):
            with self.subTest(source=source):
                self.assertEqual(self.compile_as(source, own), (0, ""))
                status, messages = self.compile_as(source, other)
                self.assertNotEqual(status, 0)
                self.assertIn("%s: No such file or directory" % other, messages)


if __name__ == "__main__":
    unittest.main()
