// SPDX-License-Identifier: Apache-2.0
// udp_transport.cpp: the socket is never connected; each datagram names its
// destination, and a refused one (too long, say) does not stop the others.
#include "udp_transport.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool open_udp(udp_link& link, const addrinfo* addresses, long long rate,
              const transport_listener& listener)
{
    link.address = addresses;
    link.fd = socket(addresses->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (link.fd == -1)
        listener(transport_event{TRANSPORT_NO_SOCKET, strerror(errno)});
    link.pacer = make_udp_pacer(rate);
    return link.fd != -1;
}

void send_datagram(udp_link& link, std::string_view datagram, delivery_count& count)
{
    pace_line(link.pacer);
    ssize_t result = 0;
    do {
        result = sendto(link.fd, datagram.data(), datagram.size(), 0, link.address->ai_addr,
                        link.address->ai_addrlen);
    } while (result == -1 && errno == EINTR);
    if (result != -1)
        ++count.sent;
    else
        count_failure(count, strerror(errno));
}

void close_udp(udp_link& link)
{
    if (link.fd != -1)
        close(link.fd);
    link.fd = -1;
}
