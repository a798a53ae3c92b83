// SPDX-License-Identifier: Apache-2.0
// tcp_connection.cpp: Linux TCP for the stream transport. What the server
// has acknowledged comes from SIOCOUTQ (bytes not sent or not acknowledged);
// the send buffer is bounded, because every byte in it is also kept by
// logfwd until the server acknowledges it.
#include "tcp_connection.h"

#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "monotonic_clock.h"
#include "stop_signals.h"

const char* const CLOSED_BY_SERVER = "closed by the server";

namespace {
// Asked of the kernel, which doubles it: enough for a LAN's or loopback's
// pace (bench/README.md), and what logfwd keeps unacknowledged stays small.
const int SEND_BUFFER_BYTES = 128 * 1024;

link_status failed(link_outcome outcome, int error)
{
    return link_status{outcome, strerror(error)};
}

// Waits until the connection started by a non-blocking connect() is made.
link_status finish_connect(int fd, long long deadline_ms)
{
    const link_status connected =
        wait_until(fd, POLLOUT, deadline_ms, failed(LINK_CONNECT_FAILED, ETIMEDOUT));
    if (connected.outcome != LINK_OK)
        return connected;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == -1)
        error = errno;
    return error == 0 ? link_status{} : failed(LINK_CONNECT_FAILED, error);
}

// One address: a new socket, connected by deadline_ms.
link_status connect_to(tcp_connection& connection, const addrinfo& address, long long deadline_ms)
{
    tcp_close(connection);
    const int fd = socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          IPPROTO_TCP);
    if (fd == -1)
        return failed(LINK_CONNECT_FAILED, errno);
    connection.fd = fd;
    const int on = 1;
    const int send_buffer = SEND_BUFFER_BYTES;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) == -1 ||
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof(send_buffer)) == -1)
        return failed(LINK_CONNECT_FAILED, errno);
    if (connect(fd, address.ai_addr, address.ai_addrlen) == 0)
        return link_status{};
    if (errno != EINPROGRESS)
        return failed(LINK_CONNECT_FAILED, errno);
    return finish_connect(fd, deadline_ms);
}
}  // namespace

link_status tcp_connect(tcp_connection& connection, const addrinfo* addresses, int timeout_ms)
{
    link_status status{LINK_CONNECT_FAILED, strerror(EADDRNOTAVAIL)};
    for (const addrinfo* address = addresses; address; address = address->ai_next) {
        status = connect_to(connection, *address, monotonic_ms() + timeout_ms);
        if (status.outcome != LINK_CONNECT_FAILED)
            break;
    }
    return status;
}

ssize_t tcp_send(tcp_connection& connection, const char* data, size_t size)
{
    ssize_t taken = 0;
    do {
        taken = send(connection.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (taken == -1 && errno == EINTR && !stop_requested());
    if (taken == -1 && (errno == EAGAIN || errno == EINTR))
        return 0;
    if (taken > 0)
        connection.written += static_cast<std::uint64_t>(taken);
    return taken;
}

bool tcp_unacknowledged(int fd, std::uint64_t& bytes)
{
    int queued = 0;
    if (ioctl(fd, SIOCOUTQ, &queued) == -1 || queued < 0)
        return false;
    bytes = static_cast<std::uint64_t>(queued);
    return true;
}

link_status tcp_receive(int fd, std::string* into)
{
    char chunk[4096];
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t got = recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got == 0)
            return link_status{LINK_BROKEN, CLOSED_BY_SERVER};
        if (got > 0 && into) {
            into->append(chunk, static_cast<size_t>(got));
            if (static_cast<size_t>(got) < sizeof(chunk))
                break;  // drained for now: poll() tells of more, without a read that finds none
            continue;
        }
        if (got > 0)
            continue;
        if (errno == EAGAIN || errno == EINTR)
            break;
        return failed(LINK_BROKEN, errno);
    }
    return link_status{};
}

link_status wait_until(int fd, short events, long long deadline_ms, const link_status& too_late)
{
    for (;;) {
        if (stop_requested())
            return link_status{LINK_STOPPED, ""};
        const long long left = deadline_ms - monotonic_ms();
        if (left <= 0)
            return too_late;
        if (poll_unless_stopped(fd, events, static_cast<int>(left)) != 0)
            return link_status{};
    }
}

void tcp_close(tcp_connection& connection)
{
    if (connection.fd != -1)
        close(connection.fd);
    connection = tcp_connection();
}

void tcp_abort(tcp_connection& connection)
{
    const linger reset{1, 0};
    if (connection.fd != -1)
        setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    tcp_close(connection);
}
