// SPDX-License-Identifier: Apache-2.0
// syslog_transport.h: the one way lines of a run reach the syslog server,
// whatever carries them: paced UDP datagrams (udp_transport.h), or
// frames over TCP, plain or inside TLS (stream_transport.h).
// Plain functions that dispatch on what the destination holds.
#pragma once

#include <netdb.h>
#include <string>
#include <string_view>
#include <variant>

#include "delivery_count.h"
#include "stream_transport.h"
#include "tls_session.h"
#include "transport_event.h"
#include "udp_transport.h"

// SYSLOG_TLS is SYSLOG_TCP inside TLS (RFC 5425): the same frames, the same stream.
enum syslog_protocol { SYSLOG_UDP, SYSLOG_TCP, SYSLOG_TLS };

// The run's link to the server: host and port as the settings give them (for
// messages), and the fields of its one transport. The run owns it; the
// senders write through it.
struct syslog_destination {
    std::string host;
    std::string port;
    std::variant<udp_link, stream_link> link;
};

// Lines per second of UDP unless the settings say otherwise. A default rsyslog
// (imudp, 256 queued datagrams) must not stall longer than 25 ms at this rate;
// why 10,000 and what it still loses on a loaded machine: bench/README.md.
const long long DEFAULT_UDP_RATE = 10000;

// What a run's settings choose of the transport; each protocol reads its own.
struct transport_settings {
    syslog_protocol protocol = SYSLOG_UDP;
    long long rate = DEFAULT_UDP_RATE;                // UDP: lines per second, 0 unpaced
    stream_framing framing = FRAMING_OCTET_COUNTING;  // TCP, TLS
    tls_settings tls;                                 // TLS
};

// Opens the transport: a UDP socket for the first of addresses, paced, or
// the connection to the first of them that answers (for TLS verified). False
// when it cannot be had; events say why. Nothing is sent yet.
bool open_transport(syslog_destination& destination, const addrinfo* addresses,
                    const transport_settings& settings, transport_events& events);

// Sends one message, or (streams) queues its frame and writes when enough
// wait. Returns what happened to the connection meanwhile.
transport_events send_message(syslog_destination& destination, std::string_view message,
                              delivery_count& count);

// Streams: writes everything and waits until the server's TCP acknowledged
// it (or the link gave up, or a stop signal came); returns early at each
// event, so call it until it returns none. Nothing to do for UDP.
transport_events flush_messages(syslog_destination& destination, delivery_count& count);

void close_transport(syslog_destination& destination);
