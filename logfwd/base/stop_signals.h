// SPDX-License-Identifier: Apache-2.0
// stop_signals.h: the run's signal policy and its one stop flag. A signal
// that would end the process ends the run between two lines instead, after
// the report of the file in hand, so that every count printed is of lines
// really sent. Every wait of the run is cut into slices that the flag ends.
#pragma once

#include <csignal>
#include <vector>

// True once a stop signal has come; the one way the run reads the flag.
bool stop_requested();

// The number of the stop signal that came; 0 while none has.
int stop_signal_number();

// Raises the flag as the signal handler does (async-signal-safe); 0 lowers it.
void request_stop(int signal_number);

// The longest that any wait of the run goes without looking at the flag: a
// stop signal interrupts poll() and sleeps (no SA_RESTART), and the slice
// covers one that lands just before the call.
const int STOP_CHECK_SLICE_MS = 500;

// poll() on fd for events, at most timeout_ms and one slice: the events that
// came; 0 when none did within the slice or a stop signal has come.
short poll_unless_stopped(int fd, short events, int timeout_ms);

// Sleeps ms, a slice at a time; false when a stop signal cut it short.
bool pause_unless_stopped(long long ms);

// Catches, for its lifetime, every signal whose default action ends the
// process and that can be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
// SIGUSR1, SIGALRM, SIGXFSZ, the real-time signals, ...), raising the flag;
// restores the former handling afterwards. Without SA_RESTART: a blocking call
// (a FIFO's open or read, a sleep) returns EINTR. A signal ignored at start
// stays ignored. Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP,
// SIGSYS) are left alone: the program cannot go on after one. A write to a
// closed standard output then fails quietly (EPIPE).
class stop_signal_catcher {
public:
    stop_signal_catcher();
    ~stop_signal_catcher();
    stop_signal_catcher(const stop_signal_catcher&) = delete;
    stop_signal_catcher& operator=(const stop_signal_catcher&) = delete;

private:
    struct saved_action {
        int number;
        struct sigaction action;
    };
    std::vector<saved_action> saved;
};

// Ends the process the way signal_number would have ended it, as a shell
// expects of a program stopped by a signal.
[[noreturn]] void end_by_signal(int signal_number);

// SIGPIPE held back for the life of a guard, and one that arose meanwhile
// taken off the queue, so that a write to a closed connection by a library
// that uses write(2) (OpenSSL) fails with EPIPE instead of stopping the run.
class sigpipe_held_back {
public:
    sigpipe_held_back();
    ~sigpipe_held_back();
    sigpipe_held_back(const sigpipe_held_back&) = delete;
    sigpipe_held_back& operator=(const sigpipe_held_back&) = delete;

private:
    sigset_t pipe_only{};
    sigset_t saved{};
    bool was_pending = false;
};
