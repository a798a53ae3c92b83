// SPDX-License-Identifier: Apache-2.0
// run.h: one logfwd run: the command line, the settings, the host's
// addresses, the transport, the archive pass when asked for, the log file.
#pragma once

// The four usage lines on standard output, then exit status 1.
[[noreturn]] void print_usage_and_exit(const char* program_name);

// The whole run; returns the exit status (-1 for every start-up failure).
// A stop signal ends it by that signal.
int logfwd_main(int argc, char** argv);
