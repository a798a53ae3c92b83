// SPDX-License-Identifier: Apache-2.0
// tls_session.h: syslog over TLS (RFC 5425) on an already connected TCP
// socket, with OpenSSL: a verifying client context and one session per
// connection. The socket stays the caller's; a session only borrows it.
#pragma once

#include <cstdint>
#include <memory>
#include <openssl/ssl.h>
#include <string>
#include <sys/types.h>

#include "tcp_connection.h"

// What the settings file says about trust and the client's own certificate;
// empty paths mean "not set".
struct tls_settings {
    std::string ca_file;    // authorities for the server's certificate; empty: the system's
    std::string cert_file;  // client certificate chain (PEM), with key_file
    std::string key_file;
};

struct tls_context_releaser {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using tls_context = std::unique_ptr<SSL_CTX, tls_context_releaser>;

// A client context for TLS 1.2 or newer that verifies the server against
// ca_file (or the system's store) and offers the client certificate when one
// is set. On failure: empty, and error names the file and what is wrong with it.
tls_context make_tls_context(const tls_settings& settings, std::string& error);

struct tls_session_releaser {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// One TLS session over a borrowed, non-blocking socket; the handle frees the
// session (without a close_notify: tls_close sends that) and never closes
// the socket.
struct tls_session {
    std::unique_ptr<SSL, tls_session_releaser> ssl;
};

// Runs the handshake over fd until deadline_ms (monotonic_ms) and checks that
// the server's certificate chains to a trusted authority and names host (a
// DNS name, sent as SNI, or an IPv4/IPv6 address literal). Under TLS 1.3 it
// then waits for the server's verdict on the client's last flight (see
// tls_session.cpp). LINK_TLS_FAILED with the reason; LINK_BROKEN ("closed by
// the server") for a server that hung up right after the handshake.
link_status tls_connect(tls_session& session, SSL_CTX* context, int fd, const std::string& host,
                        long long deadline_ms);

// SSL_write without blocking, record after record until size bytes are
// taken or the socket is full: the plaintext bytes taken (the records that
// carry them are written whole), 0 when none, -1 with failure set.
ssize_t tls_send(tls_session& session, const char* data, size_t size, link_status& failure);

// Bytes of the connection that TLS has written to the socket so far, the
// handshake included.
std::uint64_t tls_wire_written(const tls_session& session);

// Reads what the server sent: session tickets are taken, anything else
// dropped; LINK_BROKEN for a close_notify or a closed connection ("closed by
// the server") and for an alert (its text).
link_status tls_read_incoming(tls_session& session);

// Sends the close_notify (so that the server keeps the last records) and,
// unless a stop signal came, waits for the server's until deadline_ms;
// releases the session. The caller closes the socket afterwards.
void tls_close(tls_session& session, long long deadline_ms);
