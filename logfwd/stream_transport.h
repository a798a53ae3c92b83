// SPDX-License-Identifier: Apache-2.0
// stream_transport.h: syslog over one TCP connection with RFC 6587 frames
// (octet-counted, or ended by a newline), plain or inside TLS (RFC 5425). A
// line counts as sent once the server's TCP has acknowledged every byte of
// its frame; after a break a new connection sends again from the first frame
// not wholly acknowledged, so a line may arrive twice but none is lost in
// logfwd.
#pragma once

#include <cstdint>
#include <netdb.h>
#include <string>
#include <string_view>

#include "delivery_count.h"
#include "frame_queue.h"
#include "tcp_connection.h"
#include "tls_session.h"
#include "transport_event.h"

struct stream_link {
    const addrinfo* addresses = nullptr;  // every connection tries them in turn
    std::string host;                     // TLS: sent as SNI and checked in the certificate
    tls_context trust;                    // TLS only: every connection is verified with it
    stream_framing framing = FRAMING_OCTET_COUNTING;
    tcp_connection connection;
    tls_session tls;                      // the session over the connection (TLS only)
    frame_queue frames;
    bool up = false;                      // a connection stands
    bool given_up = false;                // the reconnection budget is spent, for the run
    link_status status;                   // the last break: why the link went down
    int reconnections = 0;                // in a row, without a line acknowledged since
    int backoff_ms = 0;                   // before the next reconnection
    std::uint64_t acked = 0;              // wire bytes of the connection acknowledged
    long long progress_ms = 0;            // when acked last grew, or the connection was made
    int ack_wait_ms = 1;                  // the next wait for acknowledgements
};

// The first connection (and TLS, verified, when trust is set). False when it
// cannot be had; events then say why. A server that hangs up at once leaves
// the link open with the break already in events.
bool open_stream(stream_link& link, transport_events& events);

// Adds the frame of message; once a buffer's worth is waiting, writes as much
// as the socket takes, waiting only while that much remains. Returns early,
// with the event, at a break or a reconnection.
transport_events stream_send(stream_link& link, std::string_view message, delivery_count& count);

// Writes every frame and waits until the server's TCP has acknowledged them,
// a stop signal came, or the link gave up (its frames then count as failed).
// Returns early, with the event, at each break and reconnection: call it again
// until it returns none.
transport_events stream_flush(stream_link& link, delivery_count& count);

// TLS's close_notify (waiting a little for the server's), then the socket.
void close_stream(stream_link& link);
