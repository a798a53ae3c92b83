// SPDX-License-Identifier: Apache-2.0
// tls_session.h: one TLS session (RFC 5425) over an already connected,
// non-blocking TCP socket, made from the run's context (tls_context.h). The
// socket stays the caller's; a session only borrows it. OpenSSL's session is
// held opaquely.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

#include "link_status.h"
#include "tls_context.h"

struct ssl_st;  // OpenSSL's SSL
struct tls_session_releaser {
    void operator()(ssl_st* ssl) const;
};

// Releasing the session frees it without a close_notify (tls_close sends
// that) and never closes the socket.
struct tls_session {
    std::unique_ptr<ssl_st, tls_session_releaser> ssl;
};

// Runs the handshake over fd until deadline_ms (monotonic_ms) and checks that
// the server's certificate chains to a trusted authority and names host (a
// DNS name, sent as SNI, or an IPv4/IPv6 address literal). Under TLS 1.3 it
// then waits for the server's verdict on the client's last flight (see
// tls_session.cpp). LINK_TLS_FAILED with the reason; LINK_BROKEN
// (CLOSED_BY_SERVER) for a server that hung up right after the handshake.
link_status tls_connect(tls_session& session, const tls_context& context, int fd,
                        const std::string& host, long long deadline_ms);

// SSL_write without blocking, record after record until size bytes are
// taken or the socket is full: the plaintext bytes taken (the records that
// carry them are written whole), 0 when none, -1 with failure set.
ssize_t tls_send(tls_session& session, const char* data, size_t size, link_status& failure);

// Bytes of the connection that TLS has written to the socket so far, the
// handshake included.
std::uint64_t tls_wire_written(const tls_session& session);

// Reads what the server sent: session tickets are taken, data goes onto into,
// up to 64 KiB, or is dropped when into is null; LINK_BROKEN for a
// close_notify or a closed connection (CLOSED_BY_SERVER) and for an alert
// (its text).
link_status tls_receive(tls_session& session, std::string* into);

// Sends the close_notify (so that the server keeps the last records) and,
// unless a stop signal came, waits for the server's until deadline_ms;
// releases the session. The caller closes the socket afterwards.
void tls_close(tls_session& session, long long deadline_ms);
