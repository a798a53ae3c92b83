// SPDX-License-Identifier: Apache-2.0
// syslog_transport.h: how the lines of a run reach the syslog server, paced
// UDP datagrams or octet-counted frames over one TCP connection.
#pragma once

#include <netdb.h>
#include <string>
#include <string_view>

#include "delivery_count.h"
#include "tcp_link.h"
#include "udp_pacer.h"

// SYSLOG_TLS is SYSLOG_TCP inside TLS (RFC 5425): the same frames, the same stream.
enum syslog_protocol { SYSLOG_UDP, SYSLOG_TCP, SYSLOG_TLS };

// The run's link to the server: the first resolved address and, for UDP, the
// socket opened for it and the pacing schedule; for TCP, the connection. The
// run owns it; the senders write through it.
struct syslog_destination {
    const addrinfo* address = nullptr;
    int socket_fd = -1;  // UDP only
    syslog_protocol protocol = SYSLOG_UDP;
    udp_pacer pacer;     // UDP only; unpaced unless set
    tcp_link stream;     // TCP only
};

// Sends one message: a datagram (after its turn in the pacing schedule) or a
// frame added to the stream's buffer, counted once the kernel has taken it.
void send_message(syslog_destination& destination, std::string_view message,
                  delivery_count& count);

// Hands every buffered message to the kernel (TCP); nothing to do for UDP.
void flush_messages(syslog_destination& destination, delivery_count& count);
