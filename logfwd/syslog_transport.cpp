// SPDX-License-Identifier: Apache-2.0
// syslog_transport.cpp: the dispatch, and the set-up that differs by
// protocol; everything else lives with its transport.
#include "syslog_transport.h"

namespace {
bool open_stream_transport(syslog_destination& destination, const addrinfo* addresses,
                           const transport_settings& settings, transport_events& events)
{
    stream_link& stream = destination.link.emplace<stream_link>();
    stream.addresses = addresses;
    stream.host = destination.host;
    stream.framing = settings.framing;
    if (settings.protocol == SYSLOG_TLS) {
        std::string error;
        stream.trust = make_tls_context(settings.tls, error);
        if (!stream.trust) {
            events.push_back(transport_event{TRANSPORT_TLS_REFUSED, error});
            return false;
        }
    }
    return open_stream(stream, events);
}
}  // namespace

bool open_transport(syslog_destination& destination, const addrinfo* addresses,
                    const transport_settings& settings, transport_events& events)
{
    if (settings.protocol != SYSLOG_UDP)
        return open_stream_transport(destination, addresses, settings, events);
    return open_udp(destination.link.emplace<udp_link>(), addresses, settings.rate, events);
}

transport_events send_message(syslog_destination& destination, std::string_view message,
                              delivery_count& count)
{
    if (stream_link* stream = std::get_if<stream_link>(&destination.link))
        return stream_send(*stream, message, count);
    send_datagram(std::get<udp_link>(destination.link), message, count);
    return {};
}

transport_events flush_messages(syslog_destination& destination, delivery_count& count)
{
    if (stream_link* stream = std::get_if<stream_link>(&destination.link))
        return stream_flush(*stream, count);
    return {};
}

void close_transport(syslog_destination& destination)
{
    if (stream_link* stream = std::get_if<stream_link>(&destination.link))
        close_stream(*stream);
    else
        close_udp(std::get<udp_link>(destination.link));
}
