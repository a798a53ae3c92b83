// SPDX-License-Identifier: Apache-2.0
// udp_transport.h: syslog over UDP, one datagram per line, paced (udp_pacer.h)
// so that the receiver's socket buffer keeps up, on a socket connected to one
// of the host's addresses at a time, so that a refusal is heard.
#pragma once

#include <netdb.h>
#include <string>
#include <string_view>

#include "delivery_count.h"
#include "transport_event.h"
#include "udp_pacer.h"

struct udp_link {
    const addrinfo* address = nullptr;  // the socket's: nullptr once every address refused
    int fd = -1;
    udp_pacer pacer;                    // unpaced unless set
    std::string refusal;                // once every address refused: the reason of the lines failed
};

// A socket connected to the first of addresses that takes one, paced at rate
// lines per second (0: unpaced). False (the listener heard why) when none does.
bool open_udp(udp_link& link, const addrinfo* addresses, long long rate,
              const transport_listener& listener);

// Sends datagram after its turn in the pacing schedule; counted as sent once
// the socket took it, as failed (with the reason) when it refused it. The
// kernel tells of a refusal (ICMP port unreachable) at the send after the one
// that drew it, which itself goes nowhere; that send moves the link to the
// host's next address, which gets the datagram.
void send_datagram(udp_link& link, std::string_view datagram, delivery_count& count);

void close_udp(udp_link& link);
