// SPDX-License-Identifier: Apache-2.0
// The run's signal policy: catch every signal that would end the process,
// let the sender stop between two lines and report, then end by that signal.
// The handler only stores the signal's number.
#include "stop_signals.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "monotonic_clock.h"

namespace {
volatile sig_atomic_t stop_signal = 0;

// Signals whose default action ends the process, faults and SIGKILL/SIGSTOP
// aside; the real-time signals are added at run time.
const int FIXED_STOP_SIGNALS[] = {
    SIGHUP,  SIGINT,  SIGQUIT,   SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU,
    SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

void note_stop_signal(int number)
{
    stop_signal = number;
}

std::vector<int> stop_signal_numbers()
{
    std::vector<int> numbers(std::begin(FIXED_STOP_SIGNALS), std::end(FIXED_STOP_SIGNALS));
    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number)
        numbers.push_back(number);
    return numbers;
}
}  // namespace

bool stop_requested()
{
    return stop_signal != 0;
}

int stop_signal_number()
{
    return stop_signal;
}

void request_stop(int signal_number)
{
    stop_signal = signal_number;
}

short poll_unless_stopped(int fd, short events, int timeout_ms)
{
    if (stop_requested())
        return 0;
    pollfd watched{fd, events, 0};
    const int ready = poll(&watched, 1, std::clamp(timeout_ms, 0, STOP_CHECK_SLICE_MS));
    return ready > 0 ? watched.revents : 0;
}

bool pause_unless_stopped(long long ms)
{
    const long long until = monotonic_ms() + ms;
    for (long long left = ms; left > 0 && !stop_requested(); left = until - monotonic_ms())
        poll(nullptr, 0, static_cast<int>(std::min<long long>(left, STOP_CHECK_SLICE_MS)));
    return !stop_requested();
}

stop_signal_catcher::stop_signal_catcher()
{
    struct sigaction catcher {};
    catcher.sa_handler = note_stop_signal;  // no SA_RESTART: sleeps and reads must wake up
    sigemptyset(&catcher.sa_mask);
    for (int number : stop_signal_numbers()) {
        saved_action former{number, {}};
        if (sigaction(number, nullptr, &former.action) != 0 || former.action.sa_handler == SIG_IGN)
            continue;
        if (sigaction(number, &catcher, nullptr) == 0)
            saved.push_back(former);
    }
}

stop_signal_catcher::~stop_signal_catcher()
{
    for (const saved_action& former : saved)
        sigaction(former.number, &former.action, nullptr);
}

void end_by_signal(int signal_number)
{
    signal(signal_number, SIG_DFL);
    sigset_t only{};
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
}

sigpipe_held_back::sigpipe_held_back()
{
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigset_t pending{};
    was_pending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    sigprocmask(SIG_BLOCK, &pipe_only, &saved);
}

sigpipe_held_back::~sigpipe_held_back()
{
    const int saved_errno = errno;
    sigset_t pending{};
    if (!was_pending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        sigtimedwait(&pipe_only, nullptr, &now);
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    errno = saved_errno;
}
