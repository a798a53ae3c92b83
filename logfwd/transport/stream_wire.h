// SPDX-License-Identifier: Apache-2.0
// stream_wire.h: the bytes of one stream connection to the syslog server:
// TCP to the first of the host's addresses that answers, inside TLS when the
// run has a TLS context. The one place that tells plain TCP and TLS apart.
#pragma once

#include <cstdint>
#include <netdb.h>
#include <string>
#include <sys/types.h>

#include "link_status.h"
#include "tcp_connection.h"
#include "tls_context.h"
#include "tls_session.h"

struct stream_wire {
    const tls_context* trust = nullptr;  // set: every connection is TLS, verified with it
    tcp_connection tcp;
    tls_session tls;
    bool standing = false;
    bool full = false;  // the last write found the socket full: none until poll() says it has room
};

// TCP to the first address that answers within timeout_ms, then TLS with its
// checks on that one alone. Standing after LINK_OK, and after LINK_BROKEN (a
// server that hung up right after the TLS handshake), which the caller tells.
link_status wire_connect(stream_wire& wire, const addrinfo* addresses, const std::string& host,
                         int timeout_ms);

// As many of size bytes as the socket takes: their count (0: the socket is
// full, and wire.full says so), or -1 with failure set (LINK_BROKEN).
ssize_t wire_write(stream_wire& wire, const char* data, size_t size, link_status& failure);

// What the server sent, onto into (dropped when null); LINK_BROKEN when it
// closed the connection or the connection failed.
link_status wire_receive(stream_wire& wire, std::string* into);

// Bytes of the connection written to the socket so far (under TLS its
// records, the handshake included), and those the server's TCP has not
// acknowledged yet.
std::uint64_t wire_written(const stream_wire& wire);
bool wire_unacknowledged(const stream_wire& wire, std::uint64_t& bytes);

bool wire_is_tls(const stream_wire& wire);

// Ends a connection that broke or failed: no close_notify, and nothing more
// of it reaches the server.
void wire_abort(stream_wire& wire);

// Ends a connection in order: TLS's close_notify (waiting for the server's
// until deadline_ms), then the socket.
void wire_close(stream_wire& wire, long long deadline_ms);
