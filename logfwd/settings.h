// SPDX-License-Identifier: Apache-2.0
// settings.h: logfwd's settings file, /etc/orvane/syslog_settings, read through
// the tools library's ConfigFile: the syslog server and how to reach it.
#pragma once

#include <string>

#include "syslog_transport.h"
#include "tls_session.h"

// Lines per second of UDP unless the settings say otherwise. A default rsyslog
// (imudp, 256 queued datagrams) must not stall longer than 25 ms at this rate;
// why 10,000 and what it still loses on a loaded machine: bench/README.md.
const long long DEFAULT_UDP_RATE = 10000;

struct syslog_settings {
    std::string host;
    syslog_protocol protocol = SYSLOG_UDP;
    std::string port = "514";
    long long rate = DEFAULT_UDP_RATE;
    tls_settings tls;
};

// The value of "host", verbatim, and the transport keys; false (reported on
// standard output) when the file or the host is missing or a value is invalid.
bool read_settings(syslog_settings& settings);
