// SPDX-License-Identifier: Apache-2.0
// udp_transport.cpp: a connected UDP socket rather than sendto() on an
// unconnected one, so that the kernel reports a refusal (ECONNREFUSED, from
// an ICMP port unreachable) instead of dropping datagrams without a word. A
// datagram the socket refuses for itself (too long, say) does not stop the others.
#include "udp_transport.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Connects the link to the first address from first on that takes a socket;
// the errno of the last failure when none does.
int connect_from(udp_link& link, const addrinfo* first)
{
    close_udp(link);
    int error = EADDRNOTAVAIL;
    for (const addrinfo* address = first; address; address = address->ai_next) {
        const int fd = socket(address->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd != -1 && connect(fd, address->ai_addr, address->ai_addrlen) == 0) {
            link.fd = fd;
            link.address = address;
            return 0;
        }
        error = errno;
        if (fd != -1)
            close(fd);
    }
    return error;
}

ssize_t send_once(int fd, std::string_view datagram)
{
    ssize_t result = 0;
    do {
        result = send(fd, datagram.data(), datagram.size(), 0);
    } while (result == -1 && errno == EINTR);
    return result;
}
}  // namespace

bool open_udp(udp_link& link, const addrinfo* addresses, long long rate,
              const transport_listener& listener)
{
    link.pacer = make_udp_pacer(rate);
    const int error = connect_from(link, addresses);
    if (error != 0)
        listener(transport_event{TRANSPORT_NO_SOCKET, strerror(error)});
    return error == 0;
}

void send_datagram(udp_link& link, std::string_view datagram, delivery_count& count)
{
    if (!link.address) {
        count_failure(count, link.refusal);
        return;
    }
    pace_line(link.pacer);
    while (send_once(link.fd, datagram) == -1) {
        if (errno != ECONNREFUSED) {
            count_failure(count, strerror(errno));
            return;
        }
        if (connect_from(link, link.address->ai_next) != 0) {
            link.refusal = strerror(ECONNREFUSED);
            count_failure(count, link.refusal);
            return;
        }
    }
    ++count.sent;
}

void close_udp(udp_link& link)
{
    if (link.fd != -1)
        close(link.fd);
    link.fd = -1;
    link.address = nullptr;
}
