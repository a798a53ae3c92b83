// devsim.h: the device simulator's process-wide state and its start-up.
// Plain functions over these few variables; the bus handlers and the signal
// handler change device_state, the main loop reads it.
#pragma once

#include <csignal>
#include <string>

const int DEVICE_STATE_REGISTERING = 1;  // announced, waiting for the verdict
const int DEVICE_STATE_ACCEPTED = 2;     // periodic messages flow
const int DEVICE_STATE_STOPPING = 3;     // the main loop ends at its next test

extern std::string device_fid;
extern std::string device_name;
extern int send_interval_secs;
extern std::string controller_fid;
extern const std::string app_name;
extern const std::string app_version;
// Written by the signal handler, so of a type it may store to.
extern volatile sig_atomic_t device_state;
extern volatile sig_atomic_t stop_signal;

// The program's main: command line, start-up, main loop, withdrawal.
int devsim_main(int argc, char** argv);
void print_usage(const std::string& invocation_name);
void handle_signal(int signal_number);
// The interval as the command line gives it: formatted int extraction.
void read_send_interval(const std::string& argument);
