// SPDX-License-Identifier: Apache-2.0
// tls_session.h: syslog over TLS (RFC 5425) on an already connected TCP
// socket, with OpenSSL: a verifying client context and one session per
// connection. The socket stays the caller's; a session only borrows it.
#pragma once

#include <memory>
#include <openssl/ssl.h>
#include <string>
#include <sys/types.h>

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

// One TLS session over a borrowed socket; the handle frees the session
// (without a close_notify: tls_close sends that) and never closes the socket.
struct tls_session {
    std::unique_ptr<SSL, tls_session_releaser> ssl;
    std::string error;  // why the last tls_write failed, readable
};

// Runs the handshake over fd (connected, blocking or not) within timeout_ms
// and checks that the server's certificate chains to a trusted authority and
// names host (a DNS name, or an IPv4/IPv6 address literal). SNI is sent for
// names. On failure: an empty session, and error says why.
tls_session tls_connect(SSL_CTX* context, int fd, const std::string& host, int timeout_ms,
                        std::string& error);

// write(2) for a session: the count of bytes taken (at least 1), or -1 with
// errno set (EINTR: try again with the same bytes; EPIPE, ECONNRESET, EPROTO
// or, once a blocking socket's SO_SNDTIMEO ran out, ETIMEDOUT: the connection
// is unusable, session.error says why). On a non-blocking socket it waits
// while the socket's buffer is full.
ssize_t tls_write(tls_session& session, const void* data, size_t size);

// Sends the close_notify alert (so that the server keeps the last records)
// and releases the session; the caller closes the socket afterwards.
void tls_close(tls_session& session);
