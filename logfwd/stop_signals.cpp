// SPDX-License-Identifier: Apache-2.0
// The run's signal policy: catch every signal that would end the process,
// let the sender stop between two lines and report, then end by that signal.
#include "stop_signals.h"

#include <iostream>
#include <unistd.h>

volatile sig_atomic_t stop_signal = 0;

namespace {
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

stop_signal_catcher::stop_signal_catcher()
{
    struct sigaction catcher {};
    catcher.sa_handler = note_stop_signal;  // no SA_RESTART: sleep() and reads must wake up
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

void stop_signal_catcher::end_if_stopped()
{
    const int number = stop_signal;
    if (number == 0)
        return;
    // Still caught here: on a closed standard output this line fails quietly
    // and the process ends by the signal that came, not by a SIGPIPE of its own.
    std::cout << "Stopped by signal " << number << std::endl;
    signal(number, SIG_DFL);
    sigset_t only{};
    sigemptyset(&only);
    sigaddset(&only, number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    _exit(128 + number);
}
