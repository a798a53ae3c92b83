// line_sender.h: one log file to the syslog host, one datagram per line.
#pragma once

#include <csignal>
#include <netdb.h>
#include <string>

// Where the lines go: the first resolved address and the socket opened for it.
// The run owns both; the senders only use them.
struct syslog_destination {
    const addrinfo* address;
    int socket_fd;
};

// Sends every line of the file at path to destination and reports the counts
// on standard output. Stops early, between two lines, once stop_requested is
// non-zero (the number of a stop signal).
void send_log_file(const syslog_destination& destination, const std::string& path,
                   const volatile sig_atomic_t& stop_requested);
