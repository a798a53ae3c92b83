// SPDX-License-Identifier: Apache-2.0
// stop_signals.h: the signal policy of the archive pass. While an archive may
// lie decompressed, no signal that would end the process may end it before the
// archive is compressed again.
#pragma once

#include <csignal>
#include <vector>

// Number of the stop signal caught during the archive pass; 0 while none has
// arrived. Only the signal handler stores it.
extern volatile sig_atomic_t stop_signal;

// Catches, for its lifetime, every signal whose default action ends the
// process and that can be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
// SIGUSR1, SIGALRM, SIGXFSZ, the real-time signals, ...), noting it in
// stop_signal; restores the former handling afterwards. A signal ignored at
// start stays ignored. Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT,
// SIGTRAP, SIGSYS) are left alone: the program cannot go on after one.
// A write to a closed standard output then fails quietly (EPIPE).
class stop_signal_catcher {
public:
    stop_signal_catcher();
    ~stop_signal_catcher();
    stop_signal_catcher(const stop_signal_catcher&) = delete;
    stop_signal_catcher& operator=(const stop_signal_catcher&) = delete;

    // When a stop signal came: "Stopped by signal N", then the process ends
    // the way that signal would have ended it, as a shell expects.
    void end_if_stopped();

private:
    struct saved_action {
        int number;
        struct sigaction action;
    };
    std::vector<saved_action> saved;
};
