// SPDX-License-Identifier: Apache-2.0
// devsim.h: the device simulator's start-up and main loop. Its state is in
// devsim_state.h.
#pragma once

#include <string>

#include "devsim_state.h"

// The program's main: command line, start-up, main loop, withdrawal.
int devsim_main(int argc, char** argv);
void print_usage(const std::string& invocation_name);
void handle_signal(int signal_number);
// The interval as the command line gives it: formatted int extraction.
void read_send_interval(const std::string& argument);

// The main loop's clock and pause: whole seconds on a clock that never steps
// (CLOCK_MONOTONIC), and the 800 ms pause before each pass. Tests drive both.
struct loop_clock {
    long long (*seconds)();
    void (*pause)();
};
extern loop_clock main_loop_clock;
