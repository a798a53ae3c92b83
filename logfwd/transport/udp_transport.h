// SPDX-License-Identifier: Apache-2.0
// udp_transport.h: syslog over UDP, one datagram per line, paced (udp_pacer.h)
// so that the receiver's socket buffer keeps up.
#pragma once

#include <netdb.h>
#include <string_view>

#include "delivery_count.h"
#include "transport_event.h"
#include "udp_pacer.h"

struct udp_link {
    const addrinfo* address = nullptr;  // every datagram goes to this entry
    int fd = -1;
    udp_pacer pacer;  // unpaced unless set
};

// A socket for the first of addresses, paced at rate lines per second (0:
// unpaced). False (the listener heard why) when there is no socket.
bool open_udp(udp_link& link, const addrinfo* addresses, long long rate,
              const transport_listener& listener);

// Sends datagram after its turn in the pacing schedule; counted as sent once
// the socket took it, as failed (with the reason) when it refused it.
void send_datagram(udp_link& link, std::string_view datagram, delivery_count& count);

void close_udp(udp_link& link);
