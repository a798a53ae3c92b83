// line_sender.h: one log file to the syslog host, one datagram per line.
#pragma once

#include <csignal>
#include <netdb.h>
#include <string>
#include <string_view>

// Where the lines go: the first resolved address and the socket opened for it.
// The run owns both; the senders only use them.
struct syslog_destination {
    const addrinfo* address;
    int socket_fd;
};

// Where send_lines takes its lines from: read gives the next line, without its
// newline, and stays valid until the next call; false at the end (or when
// reading failed, which the reader's state records).
struct line_reader {
    bool (*read)(void* state, std::string_view& line);
    void* state;
};

// What send_lines did: datagrams the socket took, and the ones it refused.
struct send_tally {
    long long sent = 0;
    long long failed = 0;
    int first_error = 0;
};

// Sends one datagram per line of lines until it ends, or until stop_requested
// is non-zero (the number of a stop signal), checked between two lines.
send_tally send_lines(line_reader lines, const syslog_destination& destination,
                      const volatile sig_atomic_t& stop_requested);

// "Successfully sent N logs from PATH file", then the refused datagrams, if any.
void report_sent(const std::string& path, const send_tally& tally);

// Sends every line of the file at path to destination and reports the counts
// on standard output. Stops early, between two lines, once stop_requested is
// non-zero. A FIFO is waited for until a writer opens it, as cat does.
void send_log_file(const syslog_destination& destination, const std::string& path,
                   const volatile sig_atomic_t& stop_requested);
