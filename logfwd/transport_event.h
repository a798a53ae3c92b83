// SPDX-License-Identifier: Apache-2.0
// transport_event.h: what a transport reports back to the run flow and the
// line sender, which print it; the transports themselves print nothing.
#pragma once

#include <string>
#include <vector>

enum transport_event_kind {
    TRANSPORT_NO_SOCKET,      // UDP: no socket (ends the run)
    TRANSPORT_NO_CONNECTION,  // no TCP connection at the start (ends the run)
    TRANSPORT_TLS_REFUSED,    // TLS could not be set up or the server did not pass
    TRANSPORT_LOST,           // the connection broke
    TRANSPORT_RECONNECTED,    // a new connection stands
};

struct transport_event {
    transport_event_kind kind;
    std::string reason;  // readable, for the kinds that have one
};

using transport_events = std::vector<transport_event>;
