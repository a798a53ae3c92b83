// SPDX-License-Identifier: Apache-2.0
// TLS for the syslog stream (RFC 5425) with OpenSSL. The host check is
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
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// After a TLS 1.3 server's TCP acknowledged the client's last flight: how long
// a server that sends no session ticket has to refuse the client (measured:
// an OpenSSL server's alert comes within a few milliseconds on loopback).
const int VERDICT_GRACE_MS = 250;

// What the callbacks learn during one handshake (the session's app data).
struct handshake_notes {
    bool ticket_received = false;
};

// The readable reason of the oldest error in OpenSSL's queue, the most
// specific one, with the detail OpenSSL adds to it; clears the queue.
std::string openssl_reason(const char* fallback)
{
    const char* detail = nullptr;
    int detail_flags = 0;
    const unsigned long code = ERR_peek_error_data(&detail, &detail_flags);
    std::string reason = fallback;
    if (code != 0) {
        const char* text = ERR_reason_error_string(code);
        char numbered[256];
        if (!text) {
            ERR_error_string_n(code, numbered, sizeof numbered);
            text = numbered;
        }
        reason = text;
        if ((detail_flags & ERR_TXT_STRING) != 0 && detail && *detail)
            reason += std::string(" (") + detail + ")";
    }
    ERR_clear_error();
    return reason;
}

// Empty when path can be opened for reading as a regular file, else why not.
// OpenSSL's own message for a missing file is less plain than strerror's, and
// a FIFO would block it (here O_NONBLOCK keeps the open from waiting).
std::string unreadable_reason(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return strerror(errno);
    struct stat info {};
    const bool got = fstat(fd, &info) == 0;
    close(fd);
    if (got && S_ISDIR(info.st_mode))
        return strerror(EISDIR);
    return got && !S_ISREG(info.st_mode) ? "not a regular file" : "";
}

// "KEY PATH: REASON" for a settings file that OpenSSL cannot use; empty when loaded.
template <typename Loader>
std::string load_file(const char* key, const std::string& path, Loader load)
{
    std::string reason = unreadable_reason(path);
    if (reason.empty() && load(path.c_str()) != 1)
        reason = openssl_reason("cannot be loaded");
    return reason.empty() ? "" : std::string(key) + " " + path + ": " + reason;
}

bool load_trust(SSL_CTX* context, const tls_settings& settings, std::string& error)
{
    if (settings.ca_file.empty()) {
        if (SSL_CTX_set_default_verify_paths(context) == 1)
            return true;
        error = "system certificates: " + openssl_reason("cannot be loaded");
        return false;
    }
    error = load_file("ca_file", settings.ca_file, [context](const char* path) {
        return SSL_CTX_load_verify_locations(context, path, nullptr);
    });
    return error.empty();
}

// "key_file PATH is readable by others (chmod 600)" for a private key that its
// group or others may read, as ssh refuses one; empty otherwise. The mode is
// what counts, also for root, who could read it anyway.
std::string exposed_key_reason(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || (info.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return "";
    return "key_file " + path + " is readable by others (chmod 600)";
}

bool load_client_certificate(SSL_CTX* context, const tls_settings& settings, std::string& error)
{
    if (settings.cert_file.empty() != settings.key_file.empty()) {
        error = settings.cert_file.empty() ? "key_file without cert_file"
                                           : "cert_file without key_file";
        return false;
    }
    if (settings.cert_file.empty())
        return true;
    error = load_file("cert_file", settings.cert_file, [context](const char* path) {
        return SSL_CTX_use_certificate_chain_file(context, path);
    });
    if (error.empty())
        error = exposed_key_reason(settings.key_file);
    if (error.empty())
        error = load_file("key_file", settings.key_file, [context](const char* path) {
            const int loaded = SSL_CTX_use_PrivateKey_file(context, path, SSL_FILETYPE_PEM);
            return loaded == 1 ? SSL_CTX_check_private_key(context) : loaded;
        });
    return error.empty();
}

handshake_notes* notes_of(SSL* ssl)
{
    return static_cast<handshake_notes*>(SSL_get_app_data(ssl));
}

// Called for each TLS 1.3 session ticket: the server has accepted the client.
int note_ticket(SSL* ssl, SSL_SESSION*)
{
    if (handshake_notes* notes = notes_of(ssl))
        notes->ticket_received = true;
    return 0;  // the session is not kept
}

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

// Waits for events on fd until deadline_ms: LINK_STOPPED, or the handshake's
// failure once the deadline passed.
link_status wait_until(int fd, short events, long long deadline_ms)
{
    for (;;) {
        if (stop_signalled())
            return link_status{LINK_STOPPED, ""};
        const long long left = deadline_ms - monotonic_ms();
        if (left <= 0)
            return link_status{LINK_TLS_FAILED, strerror(ETIMEDOUT)};
        if (tcp_wait(fd, events, static_cast<int>(left)) != 0)
            return link_status{};
    }
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

// OpenSSL writes to the socket with write(2), which raises SIGPIPE on a closed
// connection. For the life of a guard SIGPIPE is held back, and one that
// arose meanwhile is taken off the queue, so that the write sees EPIPE.
struct sigpipe_guard {
    sigset_t pipe_only{};
    sigset_t saved{};
    bool was_pending = false;
    sigpipe_guard()
    {
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        sigset_t pending{};
        was_pending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        sigprocmask(SIG_BLOCK, &pipe_only, &saved);
    }
    ~sigpipe_guard()
    {
        const int saved_errno = errno;
        sigset_t pending{};
        if (!was_pending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            sigtimedwait(&pipe_only, nullptr, &now);
        }
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        errno = saved_errno;
    }
    sigpipe_guard(const sigpipe_guard&) = delete;
    sigpipe_guard& operator=(const sigpipe_guard&) = delete;
};

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
        const link_status waited = wait_until(fd, events, deadline_ms);
        if (waited.failure != LINK_FINE)
            return waited;
    }
}

// Reads records until none is left: tickets and alerts take effect, data is dropped.
link_status read_records(SSL* ssl)
{
    char dropped[4096];
    for (int reads = 0; reads < 16; ++reads) {
        ERR_clear_error();
        errno = 0;
        const int result = SSL_read(ssl, dropped, sizeof(dropped));
        if (result > 0)
            continue;
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
link_status await_verdict(SSL* ssl, int fd, long long deadline_ms)
{
    const handshake_notes* notes = notes_of(ssl);
    long long verdict_due = -1;
    int poll_ms = 1;
    for (;;) {
        const link_status incoming = read_records(ssl);
        if (incoming.failure != LINK_FINE)
            return incoming.reason == CLOSED_BY_SERVER
                       ? incoming
                       : link_status{LINK_TLS_FAILED, incoming.reason};
        if (notes->ticket_received)
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
        if (wait_until(fd, POLLIN, until).failure == LINK_STOPPED)
            return link_status{LINK_STOPPED, ""};
    }
}
}  // namespace

tls_context make_tls_context(const tls_settings& settings, std::string& error)
{
    tls_context context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        error = openssl_reason("cannot create a TLS context");
        return nullptr;
    }
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // A partial write returns what went out, like write(2) does; a retry may
    // then come from a moved buffer.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
    SSL_CTX_sess_set_new_cb(ctx, note_ticket);
    if (!load_trust(ctx, settings, error) || !load_client_certificate(ctx, settings, error))
        return nullptr;
    return context;
}

link_status tls_connect(tls_session& session, SSL_CTX* context, int fd, const std::string& host,
                        long long deadline_ms)
{
    session.ssl.reset(SSL_new(context));
    SSL* ssl = session.ssl.get();
    if (!ssl || SSL_set_fd(ssl, fd) != 1 || !expect_host(ssl, host)) {
        session.ssl.reset();
        return link_status{LINK_TLS_FAILED, openssl_reason("cannot set up a TLS session")};
    }
    handshake_notes notes;
    SSL_set_app_data(ssl, &notes);
    link_status status;
    {
        const sigpipe_guard no_sigpipe;
        status = handshake(ssl, fd, deadline_ms);
        if (status.failure == LINK_FINE && SSL_version(ssl) >= TLS1_3_VERSION)
            status = await_verdict(ssl, fd, deadline_ms);
    }
    SSL_set_app_data(ssl, nullptr);
    if (status.failure != LINK_FINE && status.failure != LINK_BROKEN)
        session.ssl.reset();
    return status;
}

ssize_t tls_send(tls_session& session, const char* data, size_t size, link_status& failure)
{
    SSL* ssl = session.ssl.get();
    const sigpipe_guard no_sigpipe;
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

link_status tls_read_incoming(tls_session& session)
{
    const sigpipe_guard no_sigpipe;
    return read_records(session.ssl.get());
}

void tls_close(tls_session& session, long long deadline_ms)
{
    SSL* ssl = session.ssl.get();
    if (ssl) {
        const sigpipe_guard no_sigpipe;
        const int fd = SSL_get_fd(ssl);
        for (;;) {
            ERR_clear_error();
            const int result = SSL_shutdown(ssl);
            if (result == 1)
                break;
            const short events = result == 0 ? POLLIN : wanted_events(SSL_get_error(ssl, result));
            if (events == 0 || wait_until(fd, events, deadline_ms).failure != LINK_FINE)
                break;
        }
        ERR_clear_error();
    }
    session.ssl.reset();
}
