// SPDX-License-Identifier: Apache-2.0
// tcp_connection.h: one TCP connection to the syslog server, for the stream
// transport (TCP, and TLS over it), to the first of its addresses that
// answers. It never blocks: every wait is cut into slices that a stop signal
// ends, and it tells how many of the bytes written the server's TCP has
// acknowledged.
#pragma once

#include <cstdint>
#include <netdb.h>
#include <string>
#include <sys/types.h>

#include "link_status.h"

struct tcp_connection {
    int fd = -1;
    std::uint64_t written = 0;  // bytes the kernel took on this connection
};

// Connects to each of addresses in turn, each given timeout_ms (ETIMEDOUT's
// reason then), until one answers: non-blocking, close-on-exec, with
// keep-alive and a bounded send buffer. LINK_CONNECT_FAILED with the last
// address's reason when none did; a stop signal ends the attempts.
link_status tcp_connect(tcp_connection& connection, const addrinfo* addresses, int timeout_ms);

// send() without blocking and without SIGPIPE: the bytes taken, 0 when the
// socket buffer is full, -1 with errno on failure.
ssize_t tcp_send(tcp_connection& connection, const char* data, size_t size);

// Bytes written on fd that the server's TCP has not acknowledged yet.
bool tcp_unacknowledged(int fd, std::uint64_t& bytes);

// Reads what the server sent, up to 64 KiB, onto into, or drops it when into
// is null (a plain syslog server sends nothing): LINK_BROKEN when it has
// closed its side (CLOSED_BY_SERVER) or the connection failed.
link_status tcp_receive(int fd, std::string* into);

// Waits for events on fd until deadline_ms (monotonic_ms), a slice at a time:
// LINK_OK once they came, LINK_STOPPED at a stop signal, too_late once the
// deadline passed.
link_status wait_until(int fd, short events, long long deadline_ms, const link_status& too_late);

void tcp_close(tcp_connection& connection);

// Closes with a reset: the kernel drops what the connection still holds
// instead of sending it on after the close (a broken connection's bytes go
// out again on the next one, or count as failed).
void tcp_abort(tcp_connection& connection);
