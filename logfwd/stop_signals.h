// SPDX-License-Identifier: Apache-2.0
// stop_signals.h: the run's signal policy. A signal that would end the
// process ends the run between two lines instead, after the report of the
// file in hand, so that every count printed is of lines really sent.
#pragma once

#include <csignal>
#include <vector>

// Number of the stop signal caught during the run; 0 while none has arrived.
// Only the signal handler stores it; the senders and the transport's waits
// look at it.
extern volatile sig_atomic_t stop_signal;

// Catches, for its lifetime, every signal whose default action ends the
// process and that can be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
// SIGUSR1, SIGALRM, SIGXFSZ, the real-time signals, ...), noting it in
// stop_signal; restores the former handling afterwards. Without SA_RESTART:
// a blocking call (a FIFO's open or read, a sleep) returns EINTR. A signal
// ignored at start stays ignored. Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS) are left alone: the program cannot go on after one.
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
