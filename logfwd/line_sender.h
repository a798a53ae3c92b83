// SPDX-License-Identifier: Apache-2.0
// line_sender.h: lines of a log file (or of an archive) to the syslog host,
// one message per line.
#pragma once

#include <csignal>
#include <string>
#include <string_view>

#include "syslog_transport.h"

// Where send_lines takes its lines from: read gives the next line, without its
// newline, and stays valid until the next call; false at the end (or when
// reading failed, which the reader's state records).
struct line_reader {
    bool (*read)(void* state, std::string_view& line);
    void* state;
};

// "Connection to HOST port PORT lost: REASON", "Reconnected to HOST port
// PORT", "ERROR in ..." on standard output, one line per event.
void print_transport_events(const syslog_destination& destination,
                            const transport_events& events);

// Sends one message per line of lines until it ends, or until stop_requested
// is non-zero (the number of a stop signal), checked between two lines; then
// waits until the transport has delivered what it still holds (streams: until
// the server's TCP acknowledged it), unless a stop signal came. Prints the
// transport's events as they come.
delivery_count send_lines(line_reader lines, syslog_destination& destination,
                          const volatile sig_atomic_t& stop_requested);

// "Successfully sent N logs from PATH file", then the lines that could not be
// handed over, if any.
void report_sent(const std::string& path, const delivery_count& count);

// Sends every line of the file at path to destination and reports the counts
// on standard output, once every line is sent or failed. Stops early,
// between two lines, once stop_requested is non-zero. A FIFO is waited for
// until a writer opens it, as cat does; a stop signal ends the wait quietly.
void send_log_file(syslog_destination& destination, const std::string& path,
                   const volatile sig_atomic_t& stop_requested);

// send_log_file for the file open at fd (taken over and closed), reported as path.
void send_open_file(syslog_destination& destination, int fd, const std::string& path,
                    const volatile sig_atomic_t& stop_requested);
