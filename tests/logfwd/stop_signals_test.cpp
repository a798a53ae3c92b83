// SPDX-License-Identifier: Apache-2.0
// The run's signal policy: which signals it catches, that it keeps the ones
// ignored at start ignored (nohup, a background job of a script), and that it
// gives every signal its former handling back.
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "stop_signals.h"

namespace {
sighandler_t handler_of(int number)
{
    struct sigaction current {};
    sigaction(number, nullptr, &current);
    return current.sa_handler;
}

TEST(stop_signal_catcher, catches_what_would_end_the_process_and_restores_it)
{
    signal(SIGHUP, SIG_IGN);
    const int caught[] = {SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM, SIGXFSZ, SIGRTMIN, SIGRTMAX};
    const int left_alone[] = {SIGHUP, SIGCHLD, SIGCONT, SIGWINCH, SIGSEGV, SIGABRT};
    std::vector<sighandler_t> before(SIGRTMAX + 1);
    for (int number = 1; number <= SIGRTMAX; ++number)
        before[number] = handler_of(number);
    {
        stop_signal_catcher catcher;
        for (int number : caught)
            EXPECT_NE(handler_of(number), before[number]) << number;
        for (int number : left_alone)
            EXPECT_EQ(handler_of(number), before[number]) << number;
        raise(SIGUSR1);
        EXPECT_TRUE(stop_requested());
        EXPECT_EQ(stop_signal_number(), SIGUSR1);
        request_stop(0);
    }
    for (int number = 1; number <= SIGRTMAX; ++number)
        EXPECT_EQ(handler_of(number), before[number]) << number;
    signal(SIGHUP, SIG_DFL);
}
}  // namespace
