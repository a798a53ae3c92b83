// SPDX-License-Identifier: Apache-2.0
// devsim_state.h: devsim's process-wide state in one struct with one
// instance, tt (toybox keeps a command's state in TT the same way), with the
// named values of device_state and of the bus handlers' results. main sets
// it up; the bus handlers and the signal handler change device_state; the
// main loop reads it.
#pragma once

#include <csignal>
#include <string>

const int DEVICE_STATE_REGISTERING = 1;  // announced, waiting for the verdict
const int DEVICE_STATE_ACCEPTED = 2;     // periodic messages flow
const int DEVICE_STATE_STOPPING = 3;     // the main loop ends at its next test

// What the bus handlers return (sbapi_RetVal).
const int HANDLER_DONE = 0;
const int HANDLER_REFUSED = 4;       // the bus refused the registration
const int HANDLER_NOT_HANDLED = 6;   // a request of an unknown kind

struct devsim_globals {
    std::string device_fid;
    std::string device_name = "devsim";
    int send_interval_secs = 30;
    std::string controller_fid;
    // Written by the signal handler, so of a type it may store to.
    volatile sig_atomic_t device_state = 0;
    volatile sig_atomic_t stop_signal = 0;
};

extern devsim_globals tt;
