// run.h: one logfwd run (command line, settings, resolution, socket, archive
// pass, log file) and the process-wide stop flag of the archive pass.
#pragma once

#include <csignal>

// Number of the stop signal (SIGINT, SIGTERM, SIGHUP) caught during the
// archive pass; 0 while none has arrived. Only the signal handler stores it.
extern volatile sig_atomic_t stop_signal;

// The four usage lines on standard output, then exit status 1.
[[noreturn]] void print_usage_and_exit(const char* program_name);

// The whole run; returns the exit status (-1 for every start-up failure).
int logfwd_main(int argc, char** argv);
