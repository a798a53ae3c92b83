// SPDX-License-Identifier: Apache-2.0
// TLS for the syslog stream (RFC 5425) with OpenSSL. The host check is
// OpenSSL's own (SSL_set1_host, or the IP address for literals), never ours.
// Under TLS 1.3 a server that refuses the client's certificate says so only
// after the client's handshake has ended, so when a certificate was asked
// for, tls_connect waits for the server's verdict before reporting success.
#include "tls_session.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
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
using steady = std::chrono::steady_clock;

// What the callbacks learn during one handshake (the session's app data).
struct handshake_notes {
    bool certificate_requested = false;
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

// Called when the server asks for a client certificate.
int note_certificate_request(SSL* ssl, void*)
{
    if (handshake_notes* notes = notes_of(ssl))
        notes->certificate_requested = true;
    return 1;
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

// Waits until fd is ready for events or the deadline passes (error: ETIMEDOUT).
bool wait_for(int fd, short events, steady::time_point deadline, std::string& error)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - steady::now());
        if (left.count() <= 0) {
            error = strerror(ETIMEDOUT);
            return false;
        }
        pollfd watched{fd, events, 0};
        const int ready = poll(&watched, 1, static_cast<int>(left.count()) + 1);
        if (ready > 0)
            return true;
        if (ready == -1 && errno != EINTR) {
            error = strerror(errno);
            return false;
        }
    }
}

// Why an SSL call that returned result failed: the verification's verdict
// first, then OpenSSL's error queue, then the system's.
std::string failure_reason(SSL* ssl, int result)
{
    const long verdict = SSL_get_verify_result(ssl);
    if (verdict != X509_V_OK) {
        ERR_clear_error();
        return X509_verify_cert_error_string(verdict);
    }
    const int kind = SSL_get_error(ssl, result);
    if (kind == SSL_ERROR_SYSCALL && errno != 0 && ERR_peek_last_error() == 0)
        return strerror(errno);
    return openssl_reason("the server closed the connection");
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

bool handshake(SSL* ssl, int fd, steady::time_point deadline, std::string& error)
{
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int result = SSL_connect(ssl);
        if (result == 1)
            return true;
        const short events = wanted_events(SSL_get_error(ssl, result));
        if (events == 0) {
            error = failure_reason(ssl, result);
            return false;
        }
        if (!wait_for(fd, events, deadline, error))
            return false;
    }
}

// TLS 1.3, after a certificate request: a session ticket means the server took
// the client; an alert means it did not. A server that sends neither before
// the deadline is given the benefit of the doubt.
bool await_verdict(SSL* ssl, int fd, steady::time_point deadline, std::string& error)
{
    const handshake_notes* notes = notes_of(ssl);
    for (;;) {
        ERR_clear_error();
        errno = 0;
        char byte = 0;
        const int result = SSL_read(ssl, &byte, 1);
        if (result > 0 || notes->ticket_received)
            return true;
        if (SSL_get_error(ssl, result) != SSL_ERROR_WANT_READ) {
            error = failure_reason(ssl, result);
            return false;
        }
        std::string ignored;
        if (!wait_for(fd, POLLIN, deadline, ignored))
            return true;
    }
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

// Sets O_NONBLOCK for the handshake, whatever the caller uses afterwards.
struct nonblocking_scope {
    int fd;
    int flags;
    explicit nonblocking_scope(int socket_fd) : fd(socket_fd), flags(fcntl(fd, F_GETFL))
    {
        if (flags != -1)
            fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    ~nonblocking_scope()
    {
        if (flags != -1)
            fcntl(fd, F_SETFL, flags);
    }
    nonblocking_scope(const nonblocking_scope&) = delete;
    nonblocking_scope& operator=(const nonblocking_scope&) = delete;
};
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
    SSL_CTX_set_cert_cb(ctx, note_certificate_request, nullptr);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
    SSL_CTX_sess_set_new_cb(ctx, note_ticket);
    if (!load_trust(ctx, settings, error) || !load_client_certificate(ctx, settings, error))
        return nullptr;
    return context;
}

tls_session tls_connect(SSL_CTX* context, int fd, const std::string& host, int timeout_ms,
                        std::string& error)
{
    const steady::time_point deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    tls_session session;
    session.ssl.reset(SSL_new(context));
    SSL* ssl = session.ssl.get();
    if (!ssl || SSL_set_fd(ssl, fd) != 1 || !expect_host(ssl, host)) {
        error = openssl_reason("cannot set up a TLS session");
        return {};
    }
    handshake_notes notes;
    SSL_set_app_data(ssl, &notes);
    bool ready = false;
    {
        const sigpipe_guard no_sigpipe;
        const nonblocking_scope nonblocking(fd);
        ready = handshake(ssl, fd, deadline, error) &&
                (!notes.certificate_requested || SSL_version(ssl) < TLS1_3_VERSION ||
                 await_verdict(ssl, fd, deadline, error));
    }
    SSL_set_app_data(ssl, nullptr);
    if (!ready)
        return {};
    return session;
}

ssize_t tls_write(tls_session& session, const void* data, size_t size)
{
    SSL* ssl = session.ssl.get();
    if (size == 0)
        return 0;
    const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    const sigpipe_guard no_sigpipe;
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int result = SSL_write(ssl, data, length);
        if (result > 0)
            return result;
        const int kind = SSL_get_error(ssl, result);
        const short events = wanted_events(kind);
        if (events != 0) {
            const int fd = SSL_get_fd(ssl);
            const int flags = fcntl(fd, F_GETFL);
            if (flags != -1 && (flags & O_NONBLOCK) == 0) {
                // A blocking socket gives up only when its send timeout ran out.
                session.error = strerror(ETIMEDOUT);
                errno = ETIMEDOUT;
                return -1;
            }
            pollfd watched{fd, events, 0};
            if (poll(&watched, 1, -1) == -1)
                return -1;  // EINTR: the caller retries with the same bytes
            continue;
        }
        const int system_error = errno;
        session.error = failure_reason(ssl, result);
        if (kind == SSL_ERROR_SYSCALL && system_error != 0)
            errno = system_error;
        else
            errno = kind == SSL_ERROR_SSL ? EPROTO : ECONNRESET;
        return -1;
    }
}

void tls_close(tls_session& session)
{
    SSL* ssl = session.ssl.get();
    // After a fatal error OpenSSL refuses to send anything more.
    if (ssl && session.error.empty()) {
        const sigpipe_guard no_sigpipe;
        const int fd = SSL_get_fd(ssl);
        const nonblocking_scope nonblocking(fd);
        const steady::time_point deadline = steady::now() + std::chrono::milliseconds(2000);
        std::string ignored;
        for (;;) {
            ERR_clear_error();
            const int result = SSL_shutdown(ssl);
            if (result == 1)
                break;
            const short events = result == 0 ? POLLIN : wanted_events(SSL_get_error(ssl, result));
            if (events == 0 || !wait_for(fd, events, deadline, ignored))
                break;
        }
        ERR_clear_error();
    }
    session.ssl.reset();
    session.error.clear();
}
