// SPDX-License-Identifier: Apache-2.0
// link_status.h: what became of a connection attempt, or of a connection,
// in one place for TCP, TLS and RELP: the outcome and a readable reason.
#pragma once

#include <string>

enum link_outcome {
    LINK_OK,
    LINK_STOPPED,         // a stop signal ended the wait
    LINK_CONNECT_FAILED,  // no TCP connection
    LINK_TLS_FAILED,      // the TLS handshake or the verification failed
    LINK_REFUSED,         // the server refused the RELP session, or answered it wrongly
    LINK_BROKEN,          // a connection that stood has broken
    LINK_STALLED,         // a connection that stood made no progress for the stall limit
};

struct link_status {
    link_outcome outcome = LINK_OK;
    std::string reason;
};

// The reason of a break that no errno names: the server ended the connection.
extern const char* const CLOSED_BY_SERVER;
