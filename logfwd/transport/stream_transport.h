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
#include "transport_settings.h"

// Where the link connects and how it frames: fixed for the run.
struct stream_target {
    const addrinfo* addresses = nullptr;  // every connection tries them in turn
    std::string host;                     // TLS: sent as SNI and checked in the certificate
    tls_context trust;                    // TLS only: every connection is verified with it
    stream_framing framing = FRAMING_OCTET_COUNTING;
};

// The connection that stands now, if any.
struct stream_connection {
    tcp_connection tcp;
    tls_session tls;  // over tcp, when the target has trust
    bool standing = false;
};

// How far the server's TCP has acknowledged the connection's bytes. No event
// tells of an acknowledgement: it is looked for at doubling intervals.
struct tcp_acknowledgement {
    std::uint64_t acked = 0;    // wire bytes of the connection acknowledged
    long long progress_ms = 0;  // when acked last grew, or the connection was made
    int next_look_ms = 1;       // the wait before the next look
};

// Reconnections for the whole run: the link gives up once a few in a row
// bring no line acknowledged, the pause doubling meanwhile, or once the
// server stalled a second time, whatever it acknowledged in between.
struct reconnection_budget {
    int in_a_row = 0;
    int stalls = 0;          // connections broken for want of progress
    int pause_ms = 0;        // before the next reconnection
    bool spent = false;      // the link has given up, for the run
    std::string last_break;  // why the link went down last: the reason of the lines failed once spent
};

struct stream_link {
    stream_target target;
    stream_connection connection;
    frame_queue frames;
    tcp_acknowledgement acknowledgement;
    reconnection_budget budget;
    transport_listener tell;
};

// The first connection (and TLS, verified, when settings ask for it). False
// when it cannot be had; the listener heard why. A server that hangs up at
// once leaves the link open with the break told.
bool open_stream(stream_link& link, const addrinfo* addresses, const std::string& host,
                 const transport_settings& settings, transport_listener listener);

// Adds the frame of message; once a buffer's worth is waiting, writes as much
// as the socket takes, waiting only while that much remains.
void stream_send(stream_link& link, std::string_view message, delivery_count& count);

// Writes every frame and waits until the server's TCP has acknowledged them,
// a stop signal came, or the link gave up (its frames then count as failed).
void stream_flush(stream_link& link, delivery_count& count);

// TLS's close_notify (waiting a little for the server's), then the socket.
void close_stream(stream_link& link);
