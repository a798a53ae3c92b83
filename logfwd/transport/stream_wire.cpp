// SPDX-License-Identifier: Apache-2.0
// The stream's wire: plain TCP, or TLS over it, behind one set of calls, so
// that the stream transport never asks which. A server that answered TCP and
// then failed the handshake or the verification has given the verdict on the
// host: the next address is not tried, so that a refusal (an impostor, an
// expired certificate) is never hidden behind a later "Connection refused".
#include "stream_wire.h"

#include <cerrno>
#include <cstring>

#include "monotonic_clock.h"

namespace {
// Why a plain write failed: a server that closed its side first is named so,
// not by the reset that answered the write.
std::string write_failure(int fd, int error)
{
    const link_status incoming = tcp_receive(fd, nullptr);
    return incoming.outcome == LINK_BROKEN && incoming.reason == CLOSED_BY_SERVER
               ? CLOSED_BY_SERVER
               : strerror(error);
}
}  // namespace

bool wire_is_tls(const stream_wire& wire)
{
    return wire.trust != nullptr;
}

link_status wire_connect(stream_wire& wire, const addrinfo* addresses, const std::string& host,
                         int timeout_ms)
{
    link_status status = tcp_connect(wire.tcp, addresses, timeout_ms);
    if (status.outcome == LINK_OK && wire_is_tls(wire))
        status = tls_connect(wire.tls, *wire.trust, wire.tcp.fd, host, monotonic_ms() + timeout_ms);
    if (status.outcome != LINK_OK && status.outcome != LINK_BROKEN)
        wire_abort(wire);
    else
        wire.standing = true;
    return status;
}

ssize_t wire_write(stream_wire& wire, const char* data, size_t size, link_status& failure)
{
    ssize_t taken = 0;
    if (wire_is_tls(wire)) {
        taken = tls_send(wire.tls, data, size, failure);
    } else {
        taken = tcp_send(wire.tcp, data, size);
        if (taken == -1)
            failure = link_status{LINK_BROKEN, write_failure(wire.tcp.fd, errno)};
    }
    wire.full = taken == 0 && size > 0;
    return taken;
}

link_status wire_receive(stream_wire& wire, std::string* into)
{
    return wire_is_tls(wire) ? tls_receive(wire.tls, into) : tcp_receive(wire.tcp.fd, into);
}

std::uint64_t wire_written(const stream_wire& wire)
{
    return wire_is_tls(wire) ? tls_wire_written(wire.tls) : wire.tcp.written;
}

bool wire_unacknowledged(const stream_wire& wire, std::uint64_t& bytes)
{
    return tcp_unacknowledged(wire.tcp.fd, bytes);
}

void wire_abort(stream_wire& wire)
{
    wire.tls = tls_session();
    tcp_abort(wire.tcp);
    wire.standing = wire.full = false;
}

void wire_close(stream_wire& wire, long long deadline_ms)
{
    if (wire.standing && wire_is_tls(wire))
        tls_close(wire.tls, deadline_ms);
    wire.standing = wire.full = false;
    tcp_close(wire.tcp);
}
