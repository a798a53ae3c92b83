// SPDX-License-Identifier: Apache-2.0
// transport_event.h: what a transport tells the run as it happens; the run
// prints it. The transports themselves print nothing.
#pragma once

#include <functional>
#include <string>

enum transport_event_kind {
    TRANSPORT_NO_SOCKET,      // UDP: no socket for any address (ends the run)
    TRANSPORT_NO_CONNECTION,  // no connection at the start (ends the run)
    TRANSPORT_TLS_REFUSED,    // TLS could not be set up, or the server did not pass
    TRANSPORT_SESSION_REFUSED,  // the server refused the RELP session
    TRANSPORT_LOST,           // the connection broke
    TRANSPORT_RECONNECTED,    // a new connection stands
    TRANSPORT_WAITING,        // a pause before the next connection, seconds_left to go
};

struct transport_event {
    transport_event_kind kind;
    std::string reason;  // readable, for the kinds that have one
    long long seconds_left = 0;
};

// Called at each event, in order, from inside the transport's calls.
using transport_listener = std::function<void(const transport_event&)>;
