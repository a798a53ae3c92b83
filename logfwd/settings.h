// SPDX-License-Identifier: Apache-2.0
// settings.h: logfwd's settings file, /etc/orvane/syslog_settings, read through
// the tools library's ConfigFile: the syslog server and how to reach it.
#pragma once

#include <istream>
#include <string>

#include "transport_settings.h"

struct syslog_settings {
    std::string host;
    std::string port = "514";
    transport_settings transport;
};

// The first refusal of a settings file's text, line by line, or "" when there
// is none: "Line N of PATH is too long" (over 4096 bytes), or "Unknown key
// "KEY" in PATH (did you mean "host"?)" for a key that nearly spells one of
// logfwd's. Other keys are left alone: the file may hold other tools' keys.
std::string settings_refusal(std::istream& file);

// The value of "host" (an IPv6 address in brackets without them) and the
// transport keys; false (reported on standard output) when the file or the
// host is missing, the file is refused or a value is invalid.
bool read_settings(syslog_settings& settings);
