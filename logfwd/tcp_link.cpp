// SPDX-License-Identifier: Apache-2.0
// tcp_link.cpp: octet-counted syslog frames (RFC 6587, section 3.4.1) over
// TCP. Unlike a plain write loop it never lets SIGPIPE end the process,
// bounds connect and write times, and after a break resends from the first
// frame the kernel had not taken whole. Frames the kernel took before the
// break was seen may still be lost with the old connection: TCP cannot say.
#include "tcp_link.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const size_t BUFFER_SIZE = 64 * 1024;
const int CONNECT_TIMEOUT_MS = 5000;
const int WRITE_TIMEOUT_SECS = 30;
const int FIRST_BACKOFF_MS = 250;
const int MAX_BACKOFF_MS = 4000;

// connect() without the kernel's two minutes for a server that does not answer.
int connect_within(int fd, const addrinfo* address, int timeout_ms)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1)
        return errno;
    if (connect(fd, address->ai_addr, address->ai_addrlen) == -1) {
        if (errno != EINPROGRESS)
            return errno;
        pollfd waiting{fd, POLLOUT, 0};
        int ready = 0;
        while ((ready = poll(&waiting, 1, timeout_ms)) == -1 && errno == EINTR) {
        }
        if (ready == 0)
            return ETIMEDOUT;
        int error = 0;
        socklen_t length = sizeof(error);
        if (ready == -1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == -1)
            return errno;
        if (error != 0)
            return error;
    }
    return fcntl(fd, F_SETFL, flags) == -1 ? errno : 0;
}

// True when the server has closed its side: writing on would only feed a
// connection that is already gone.
bool peer_closed(const tcp_link& link)
{
    pollfd check{link.fd, POLLRDHUP, 0};
    return poll(&check, 1, 0) == 1 && (check.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void append_decimal(std::string& text, size_t value)
{
    char digits[24];
    int used = 0;
    do {
        digits[used++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (used > 0)
        text += digits[--used];
}

// Frames of pending that the kernel has taken whole, counted and dropped;
// the first frame it has not taken whole becomes the start of pending.
void settle_written(tcp_link& link, delivery_count& count)
{
    size_t whole = 0;
    while (whole < link.frame_ends.size() && link.frame_ends[whole] <= link.written)
        ++whole;
    const size_t kept_from = whole == 0 ? 0 : link.frame_ends[whole - 1];
    count.sent += static_cast<long long>(whole);
    link.pending.erase(0, kept_from);
    link.frame_ends.erase(link.frame_ends.begin(), link.frame_ends.begin() + static_cast<long>(whole));
    for (size_t& end : link.frame_ends)
        end -= kept_from;
    link.written = 0;
}

// The verified TLS session over the connection just made; the handshake gets
// the connect time again.
int start_tls(tcp_link& link)
{
    link.tls = tls_connect(link.trust.get(), link.fd, link.host, CONNECT_TIMEOUT_MS,
                           link.tls_error);
    return link.tls.ssl ? 0 : EPROTO;
}

// Why the connection broke: TLS knows better than errno (EPROTO) when it failed.
std::string break_reason(const tcp_link& link, int error)
{
    return link.tls.error.empty() ? strerror(error) : link.tls.error;
}

void give_up(tcp_link& link, int error, delivery_count& count)
{
    count_failure(count, error, static_cast<long long>(link.frame_ends.size()));
    link.pending.clear();
    link.frame_ends.clear();
    link.given_up = true;
    link.error = error;
    close_stream(link);
}

// A new connection after a break, trying again with a doubling pause.
bool reconnect(tcp_link& link, int error)
{
    std::cout << "Connection to " << link.host << " port " << link.port
              << " lost: " << break_reason(link, error) << std::endl;
    close_stream(link);
    int pause_ms = FIRST_BACKOFF_MS;
    for (int attempt = 0; attempt < link.reconnect_attempts; ++attempt) {
        poll(nullptr, 0, pause_ms);
        if (connect_stream(link) == 0) {
            std::cout << "Reconnected to " << link.host << " port " << link.port << std::endl;
            return true;
        }
        pause_ms = pause_ms * 2 > MAX_BACKOFF_MS ? MAX_BACKOFF_MS : pause_ms * 2;
    }
    // A server that is back but no longer passes verification is named as such.
    if (!link.tls_error.empty())
        print_tls_error(link, link.tls_error);
    return false;
}
}  // namespace

void print_tls_error(const tcp_link& link, const std::string& reason)
{
    std::cout << "ERROR in TLS connection to " << link.host << " port " << link.port << ": "
              << reason << std::endl;
}

ssize_t send_without_sigpipe(int fd, const void* data, size_t size)
{
    return send(fd, data, size, MSG_NOSIGNAL);
}

tcp_link make_tcp_link(const addrinfo* address, const std::string& host, const std::string& port)
{
    tcp_link link;
    link.address = address;
    link.host = host;
    link.port = port;
    link.pending.reserve(BUFFER_SIZE);
    return link;
}

int connect_stream(tcp_link& link)
{
    close_stream(link);
    link.tls_error.clear();
    link.fd = socket(link.address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (link.fd == -1)
        return errno;
    const int on = 1;
    const timeval write_timeout{WRITE_TIMEOUT_SECS, 0};
    int error = 0;
    if (setsockopt(link.fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) == -1 ||
        setsockopt(link.fd, SOL_SOCKET, SO_SNDTIMEO, &write_timeout, sizeof(write_timeout)) == -1)
        error = errno;
    else
        error = connect_within(link.fd, link.address, CONNECT_TIMEOUT_MS);
    if (error == 0 && link.trust)
        error = start_tls(link);
    if (error != 0)
        close_stream(link);
    return error;
}

ssize_t stream_write(tcp_link& link, const char* data, size_t size)
{
    if (link.tls.ssl)
        return tls_write(link.tls, data, size);
    return link.write_call(link.fd, data, size);
}

void append_frame(tcp_link& link, std::string_view message, delivery_count& count)
{
    // Frames stay whole inside the buffer: one that would cross its end
    // starts the next write; one larger than the buffer goes out alone.
    const size_t frame_size = message.size() + 21;
    if (!link.given_up && !link.pending.empty() && link.pending.size() + frame_size > BUFFER_SIZE)
        flush_frames(link, count);
    // Also when that write just now gave up: this frame has nowhere to go.
    if (link.given_up) {
        count_failure(count, link.error);
        return;
    }
    append_decimal(link.pending, message.size());
    link.pending += ' ';
    link.pending.append(message);
    link.frame_ends.push_back(link.pending.size());
    if (link.pending.size() >= BUFFER_SIZE) {
        flush_frames(link, count);
        if (link.pending.capacity() > 2 * BUFFER_SIZE) {
            std::string().swap(link.pending);
            link.pending.reserve(BUFFER_SIZE);
        }
    }
}

void flush_frames(tcp_link& link, delivery_count& count)
{
    while (!link.given_up && link.written < link.pending.size()) {
        int error = 0;
        if (peer_closed(link)) {
            error = ECONNRESET;
        } else {
            const ssize_t result = stream_write(link, link.pending.data() + link.written,
                                                link.pending.size() - link.written);
            if (result > 0) {
                link.written += static_cast<size_t>(result);
                continue;
            }
            if (result == -1 && errno == EINTR)
                continue;
            error = result == 0 ? EPIPE : errno;
        }
        settle_written(link, count);
        if (!reconnect(link, error))
            give_up(link, error, count);
    }
    settle_written(link, count);
}

void close_stream(tcp_link& link)
{
    if (link.fd == -1)
        return;
    tls_close(link.tls);
    close(link.fd);
    link.fd = -1;
}
