// SPDX-License-Identifier: Apache-2.0
// stream_transport.h: syslog over one TCP connection, plain or inside TLS
// (RFC 5425), with RFC 6587 frames (octet-counted, or ended by a newline) or
// as RELP sessions. With RFC 6587 a line counts as sent once the server's TCP
// has acknowledged every byte of its frame; with RELP once the server
// answered its command with 200, and a few thousand commands may wait for
// their answers at a time. After a break a new connection sends again every
// line not counted yet, so a line may arrive twice but none is lost in logfwd.
#pragma once

#include <cstdint>
#include <netdb.h>
#include <string>
#include <string_view>

#include "delivery_count.h"
#include "frame_queue.h"
#include "stream_wire.h"
#include "transport_event.h"
#include "transport_settings.h"

// Where the link connects and how it frames: fixed for the run.
struct stream_target {
    const addrinfo* addresses = nullptr;  // every connection tries them in turn
    std::string host;                     // TLS: sent as SNI and checked in the certificate
    tls_context trust;                    // TLS only: every connection is verified with it
    stream_framing framing = FRAMING_OCTET_COUNTING;
    bool relp = false;                    // RELP sessions rather than RFC 6587 frames
};

// What tells the link that its lines arrived: the server's TCP acknowledging
// their bytes (looked for at doubling intervals: no event tells of it) or,
// over RELP, the server's answers; and since when the server owes nothing or
// made the last progress.
struct delivery_progress {
    std::uint64_t acked = 0;   // wire bytes of the connection acknowledged
    long long last_ms = 0;
    int next_look_ms = 1;      // the wait before the next look for acknowledgements
};

// The RELP session on the connection that stands.
struct relp_session {
    std::uint32_t next_txnr = 1;  // the number of the next command
    std::string received;         // bytes of the server's answers not yet whole
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
    stream_wire wire;
    frame_queue frames;
    delivery_progress progress;
    relp_session relp;
    reconnection_budget budget;
    transport_listener tell;
};

// The first connection (TLS verified, the RELP session open, when settings
// ask for them). False when it cannot be had; the listener heard why. A
// server that hangs up at once leaves the link open with the break told.
bool open_stream(stream_link& link, const addrinfo* addresses, const std::string& host,
                 const transport_settings& settings, transport_listener listener);

// Adds the frame of message; once a buffer's worth is waiting, writes as much
// as the socket (and RELP's window) takes, waiting only while that much remains.
void stream_send(stream_link& link, std::string_view message, delivery_count& count);

// Writes every frame and waits until the server has acknowledged or answered
// them, a stop signal came, or the link gave up (its frames then count as failed).
void stream_flush(stream_link& link, delivery_count& count);

// Ends the connection in order: RELP's close and its answer, TLS's
// close_notify, each waited for a little; then the socket.
void close_stream(stream_link& link);
