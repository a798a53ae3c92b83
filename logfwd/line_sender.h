// line_sender.h: one log file to the syslog host, one message per line.
#pragma once

#include <csignal>
#include <string>

#include "syslog_transport.h"

// Sends every line of the file at path to destination and reports the counts
// on standard output, once every line is in the kernel's hands. Stops early, between two lines, once stop_requested is
// non-zero (the number of a stop signal).
void send_log_file(syslog_destination& destination, const std::string& path,
                   const volatile sig_atomic_t& stop_requested);
