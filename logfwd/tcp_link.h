// SPDX-License-Identifier: Apache-2.0
// tcp_link.h: syslog over one TCP connection with RFC 6587 octet counting:
// every message goes out as "LEN SP MSG". Frames are gathered in a buffer of
// some tens of KiB and written many per system call.
#pragma once

#include <cstddef>
#include <netdb.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "delivery_count.h"
#include "tls_session.h"

// The write underneath stream_write; tests put their own here.
using stream_write_call = ssize_t (*)(int fd, const void* data, size_t size);

// send() with MSG_NOSIGNAL: a closed connection gives EPIPE, never SIGPIPE.
ssize_t send_without_sigpipe(int fd, const void* data, size_t size);

struct tcp_link {
    const addrinfo* address = nullptr;  // the first resolved entry; reconnections use it too
    std::string host;                   // as in the settings, for messages
    std::string port;
    int fd = -1;
    std::string pending;             // whole frames not yet handed completely to the kernel
    std::vector<size_t> frame_ends;  // offset just past each frame in pending
    size_t written = 0;              // bytes of pending the kernel took already
    int reconnect_attempts = 5;      // after a break, before giving up for the run
    bool given_up = false;           // the connection broke and could not be made again
    int error = 0;                   // errno of the break that made us give up
    stream_write_call write_call = send_without_sigpipe;
    tls_context trust;  // TLS only: every connection, a new one too, is verified with it
    tls_session tls;          // the session of the current connection (TLS only)
    std::string tls_error;    // why the last TLS handshake failed
};

// A link to address, not yet connected.
tcp_link make_tcp_link(const addrinfo* address, const std::string& host, const std::string& port);

// Opens the connection: close-on-exec, keep-alive, a bounded connect time and
// a bounded time for each write; with a TLS context, then the verified TLS
// session. Returns 0 or the errno of the failure (EPROTO when the TLS
// handshake or verification failed; tls_error then says why).
int connect_stream(tcp_link& link);

// The one place where bytes of the stream go to the kernel (through TLS when set).
ssize_t stream_write(tcp_link& link, const char* data, size_t size);

// Adds the frame of message, writing the buffer out first when it is full.
void append_frame(tcp_link& link, std::string_view message, delivery_count& count);

// Writes every buffered frame. A broken connection is made again (bounded
// back-off) and writing goes on from the first frame the old one did not take
// whole; when that fails, the frames left count as failed.
void flush_frames(tcp_link& link, delivery_count& count);

// Sends TLS's close_notify (when in TLS) and closes the connection.
void close_stream(tcp_link& link);

// "ERROR in TLS connection to HOST port PORT: REASON" on standard output.
void print_tls_error(const tcp_link& link, const std::string& reason);
