// SPDX-License-Identifier: Apache-2.0
// syslog_transport.cpp: the dispatch to the transport the settings chose;
// everything else lives with its transport.
#include "syslog_transport.h"

#include <variant>

#include "stream_transport.h"
#include "udp_transport.h"

struct syslog_transport {
    std::variant<udp_link, stream_link> link;
};

void transport_closer::operator()(syslog_transport* transport) const
{
    if (stream_link* stream = std::get_if<stream_link>(&transport->link))
        close_stream(*stream);
    else
        close_udp(std::get<udp_link>(transport->link));
    delete transport;
}

transport_handle open_transport(const addrinfo* addresses, const std::string& host,
                                const transport_settings& settings, transport_listener listener)
{
    transport_handle transport(new syslog_transport);
    const bool opened =
        settings.protocol == SYSLOG_UDP
            ? open_udp(transport->link.emplace<udp_link>(), addresses, settings.rate, listener)
            : open_stream(transport->link.emplace<stream_link>(), addresses, host, settings,
                          std::move(listener));
    if (!opened)
        transport.reset();
    return transport;
}

void send_message(syslog_transport& transport, std::string_view message, delivery_count& count)
{
    if (stream_link* stream = std::get_if<stream_link>(&transport.link))
        stream_send(*stream, message, count);
    else
        send_datagram(std::get<udp_link>(transport.link), message, count);
}

void flush_messages(syslog_transport& transport, delivery_count& count)
{
    if (stream_link* stream = std::get_if<stream_link>(&transport.link))
        stream_flush(*stream, count);
}
