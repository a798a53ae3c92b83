// SPDX-License-Identifier: Apache-2.0
// syslog_transport.h: the one way the lines of a run reach the syslog
// server, whatever carries them: paced UDP datagrams, or frames over TCP,
// plain or inside TLS. The transport itself is opaque here, so that what
// includes this header sees neither sockets nor OpenSSL.
#pragma once

#include <memory>
#include <netdb.h>
#include <string>
#include <string_view>

#include "delivery_count.h"
#include "transport_event.h"
#include "transport_settings.h"

struct syslog_transport;
struct transport_closer {
    void operator()(syslog_transport* transport) const;
};
// The run's link to the server. Releasing it closes it: the connection ends
// with a TLS close_notify, the socket is closed.
using transport_handle = std::unique_ptr<syslog_transport, transport_closer>;

// Opens the transport to the host at addresses (host as the settings name it:
// TLS checks it in the certificate): a UDP socket, paced, or the connection
// to the first address that answers, for TLS verified. Empty when it cannot
// be had; listener has heard why. Nothing is sent yet.
transport_handle open_transport(const addrinfo* addresses, const std::string& host,
                                const transport_settings& settings, transport_listener listener);

// Sends one message, or (streams) queues its frame and writes once enough
// wait; counts what became of the messages meanwhile.
void send_message(syslog_transport& transport, std::string_view message, delivery_count& count);

// Delivers what the transport still holds: for streams, writes every frame and
// waits until the server acknowledged it, reconnecting after breaks, until a
// stop signal comes or the link gives up (the rest then counts as failed).
// Nothing to do for UDP.
void flush_messages(syslog_transport& transport, delivery_count& count);
