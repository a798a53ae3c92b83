// SPDX-License-Identifier: Apache-2.0
// One TLS session of the syslog stream (RFC 5425) with OpenSSL. The host check is
// OpenSSL's own (SSL_set1_host, or the IP address for literals), never ours.
// Under TLS 1.3 a server refuses the client's certificate, or hangs up, only
// after the client's handshake has ended, so tls_connect waits for the
// server's verdict before reporting success. Sockets are non-blocking
// throughout; every wait ends at a stop signal.
#include "tls_session.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include "monotonic_clock.h"
#include "stop_signals.h"
#include "tcp_connection.h"

namespace {
// After a TLS 1.3 server's TCP acknowledged the client's last flight: how long
// a server that sends no session ticket has to refuse the client (measured:
// an OpenSSL server's alert comes within a few milliseconds on loopback).
const int VERDICT_GRACE_MS = 250;

// Makes OpenSSL check the certificate against host: as an address for IP
// literals, else as a DNS name, which is also sent as SNI.
bool expect_host(SSL* ssl, const std::string& host)
{
    unsigned char address[sizeof(in6_addr)];
    if (inet_pton(AF_INET, host.c_str(), address) == 1 ||
        inet_pton(AF_INET6, host.c_str(), address) == 1)
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // SSL_set_tlsext_host_name, without the macro's C cast.
    return SSL_set1_host(ssl, host.c_str()) == 1 &&
           SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                    const_cast<char*>(host.c_str())) == 1;
}

// The handshake's waits: a deadline passed is its failure.
link_status tls_wait(int fd, short events, long long deadline_ms)
{
    return wait_until(fd, events, deadline_ms, link_status{LINK_TLS_FAILED, strerror(ETIMEDOUT)});
}

// Why an SSL call failed with kind: the verification's verdict first, then a
// close by the server (a close_notify, or the end of the stream without one),
// then OpenSSL's error queue, then the system's (errno as the call left it).
std::string failure_reason(SSL* ssl, int kind, int system_error)
{
    const long verdict = SSL_get_verify_result(ssl);
    if (verdict != X509_V_OK) {
        ERR_clear_error();
        return X509_verify_cert_error_string(verdict);
    }
    const bool unexpected_eof =
        ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
    if (kind == SSL_ERROR_ZERO_RETURN || unexpected_eof ||
        (kind == SSL_ERROR_SYSCALL && system_error == 0 && ERR_peek_error() == 0)) {
        ERR_clear_error();
        return CLOSED_BY_SERVER;
    }
    if (kind == SSL_ERROR_SYSCALL && system_error != 0 && ERR_peek_error() == 0)
        return strerror(system_error);
    return openssl_reason(CLOSED_BY_SERVER);
}

// A read or write that must wait for the socket: which way, else 0.
short wanted_events(int kind)
{
    if (kind == SSL_ERROR_WANT_READ)
        return POLLIN;
    if (kind == SSL_ERROR_WANT_WRITE)
        return POLLOUT;
    return 0;
}

link_status handshake(SSL* ssl, int fd, long long deadline_ms)
{
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int result = SSL_connect(ssl);
        if (result == 1)
            return link_status{};
        const int kind = SSL_get_error(ssl, result);
        const short events = wanted_events(kind);
        if (events == 0)
            return link_status{LINK_TLS_FAILED, failure_reason(ssl, kind, errno)};
        const link_status waited = tls_wait(fd, events, deadline_ms);
        if (waited.outcome != LINK_OK)
            return waited;
    }
}

// Reads records until none is left: tickets and alerts take effect, data
// goes onto into (dropped when null).
link_status read_records(SSL* ssl, std::string* into)
{
    char chunk[4096];
    for (int reads = 0; reads < 16; ++reads) {
        ERR_clear_error();
        errno = 0;
        const int result = SSL_read(ssl, chunk, sizeof(chunk));
        if (result > 0) {
            if (into)
                into->append(chunk, static_cast<size_t>(result));
            continue;
        }
        const int kind = SSL_get_error(ssl, result);
        if (wanted_events(kind) != 0)
            break;
        return link_status{LINK_BROKEN, failure_reason(ssl, kind, errno)};
    }
    return link_status{};
}

bool flight_acknowledged(int fd)
{
    std::uint64_t unacknowledged = 0;
    return tcp_unacknowledged(fd, unacknowledged) && unacknowledged == 0;
}

// TLS 1.3 ends the client's handshake before the server has read the
// client's last flight (its certificate, when asked for, and Finished): a
// server refuses the certificate, or hangs up, only after that, and lines
// sent meanwhile would be acknowledged by its TCP and lost. So the client
// waits for the server's verdict: a session ticket (taken), an alert
// (refused), a close (hung up). OpenSSL servers (rsyslog's ossl driver,
// openssl s_server) answer a KeyUpdate request only when they next send data,
// which a syslog server never does; so a server that sends no ticket gets
// VERDICT_GRACE_MS once its TCP acknowledged the flight.
link_status await_verdict(SSL* ssl, int fd, const bool& ticket_received, long long deadline_ms)
{
    long long verdict_due = -1;
    int poll_ms = 1;
    for (;;) {
        const link_status incoming = read_records(ssl, nullptr);
        if (incoming.outcome != LINK_OK)
            return incoming.reason == CLOSED_BY_SERVER
                       ? incoming
                       : link_status{LINK_TLS_FAILED, incoming.reason};
        if (ticket_received)
            return link_status{};
        const long long now = monotonic_ms();
        if (verdict_due < 0 && flight_acknowledged(fd))
            verdict_due = now + VERDICT_GRACE_MS;
        if (verdict_due >= 0 && now >= verdict_due)
            return link_status{};
        if (verdict_due < 0 && now >= deadline_ms)
            return link_status{LINK_TLS_FAILED, strerror(ETIMEDOUT)};
        // Nothing tells of the acknowledgement: it is looked for at doubling intervals.
        const long long until =
            verdict_due >= 0 ? verdict_due : std::min(deadline_ms, now + poll_ms);
        poll_ms = std::min(poll_ms * 2, 50);
        if (tls_wait(fd, POLLIN, until).outcome == LINK_STOPPED)
            return link_status{LINK_STOPPED, ""};
    }
}
}  // namespace

void tls_session_releaser::operator()(ssl_st* ssl) const
{
    SSL_free(ssl);
}

link_status tls_connect(tls_session& session, const tls_context& context, int fd,
                        const std::string& host, long long deadline_ms)
{
    session.ssl.reset(SSL_new(context.get()));
    SSL* ssl = session.ssl.get();
    if (!ssl || SSL_set_fd(ssl, fd) != 1 || !expect_host(ssl, host)) {
        session.ssl.reset();
        return link_status{LINK_TLS_FAILED, openssl_reason("cannot set up a TLS session")};
    }
    bool ticket_received = false;  // set by the context's ticket callback
    SSL_set_app_data(ssl, &ticket_received);
    link_status status;
    {
        const sigpipe_held_back no_sigpipe;
        status = handshake(ssl, fd, deadline_ms);
        if (status.outcome == LINK_OK && SSL_version(ssl) >= TLS1_3_VERSION)
            status = await_verdict(ssl, fd, ticket_received, deadline_ms);
    }
    SSL_set_app_data(ssl, nullptr);
    if (status.outcome != LINK_OK && status.outcome != LINK_BROKEN)
        session.ssl.reset();
    return status;
}

ssize_t tls_send(tls_session& session, const char* data, size_t size, link_status& failure)
{
    SSL* ssl = session.ssl.get();
    const sigpipe_held_back no_sigpipe;
    size_t taken = 0;
    while (taken < size) {  // a record (at most 16 KiB) per SSL_write
        const size_t left = size - taken;
        ERR_clear_error();
        errno = 0;
        const int result =
            SSL_write(ssl, data + taken, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (result > 0) {
            taken += static_cast<size_t>(result);
            continue;
        }
        const int kind = SSL_get_error(ssl, result);
        if (wanted_events(kind) != 0)
            break;
        failure = link_status{LINK_BROKEN, failure_reason(ssl, kind, errno)};
        return -1;
    }
    return static_cast<ssize_t>(taken);
}

std::uint64_t tls_wire_written(const tls_session& session)
{
    return BIO_number_written(SSL_get_wbio(session.ssl.get()));
}

link_status tls_receive(tls_session& session, std::string* into)
{
    const sigpipe_held_back no_sigpipe;
    return read_records(session.ssl.get(), into);
}

void tls_close(tls_session& session, long long deadline_ms)
{
    SSL* ssl = session.ssl.get();
    if (ssl) {
        const sigpipe_held_back no_sigpipe;
        const int fd = SSL_get_fd(ssl);
        for (;;) {
            ERR_clear_error();
            const int result = SSL_shutdown(ssl);
            if (result == 1)
                break;
            const short events = result == 0 ? POLLIN : wanted_events(SSL_get_error(ssl, result));
            if (events == 0 || tls_wait(fd, events, deadline_ms).outcome != LINK_OK)
                break;
        }
        ERR_clear_error();
    }
    session.ssl.reset();
}
