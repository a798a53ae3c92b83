// SPDX-License-Identifier: Apache-2.0
// broker_lookup.h: how the bus stand-in turns the broker's host into the
// numeric address it connects to. A lookup may wait long on a silent name
// server, so the link makes it on a thread that nobody waits for.
#pragma once

#include <string>

// True when host is already an IPv4 or IPv6 address in numeric form, so that
// it needs no lookup; never asks a name server.
bool is_numeric_host(const std::string& host);
// The first IPv4 address of host (else its first address of any family), in
// numeric form; empty when there is none, and why in error.
std::string numeric_address(const std::string& host, std::string& error);
