// SPDX-License-Identifier: Apache-2.0
// transport_settings.h: what a run's settings choose of the transport, each
// protocol reading its own fields. Plain values: the settings reader needs
// nothing else of the transport.
#pragma once

#include <string>

// SYSLOG_TLS is SYSLOG_TCP inside TLS (RFC 5425): the same frames, the same
// stream; SYSLOG_RELP_TLS is SYSLOG_RELP inside TLS.
enum syslog_protocol { SYSLOG_UDP, SYSLOG_TCP, SYSLOG_TLS, SYSLOG_RELP, SYSLOG_RELP_TLS };

// How a message is framed on a TCP or TLS stream.
enum stream_framing {
    FRAMING_OCTET_COUNTING,  // "LEN SP MSG" (RFC 6587 3.4.1), which RFC 5425 requires
    FRAMING_LF,              // "MSG LF" (RFC 6587 3.4.2), for servers that read lines
};

// What the settings file says about trust and the client's own certificate;
// empty paths mean "not set".
struct tls_settings {
    std::string ca_file;    // authorities for the server's certificate; empty: the system's
    std::string cert_file;  // client certificate chain (PEM), with key_file
    std::string key_file;
};

// Lines per second of UDP unless the settings say otherwise. A default rsyslog
// (imudp, 256 queued datagrams) must not stall longer than 25 ms at this rate;
// why 10,000 and what it still loses on a loaded machine: bench/README.md.
const long long DEFAULT_UDP_RATE = 10000;

struct transport_settings {
    syslog_protocol protocol = SYSLOG_UDP;
    long long rate = DEFAULT_UDP_RATE;                // UDP: lines per second, 0 unpaced
    stream_framing framing = FRAMING_OCTET_COUNTING;  // TCP, TLS
    tls_settings tls;                                 // TLS, RELP inside TLS
};
