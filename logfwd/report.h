// SPDX-License-Identifier: Apache-2.0
// report.h: every message logfwd writes on standard output, one function
// each, written in one place: report.cpp. A message takes the progress line
// off the terminal first, so nothing else may write to standard output. The
// details that standard output has never carried (a resolver's or a socket's
// reason) go to standard error.
#pragma once

#include <string>

#include "delivery_count.h"
#include "transport_event.h"

// The four usage lines.
void report_usage(const char* program_name);

// The settings file: missing, without "host", refused (the refusal's own
// text: an over-long line, a misspelt key), or a value out of its range.
void report_settings_missing(const char* path);
void report_no_host(const char* path);
void report_settings_refused(const std::string& refusal);
void report_invalid_value(const char* key, const std::string& value, const char* path);

// The host does not resolve; reason (getaddrinfo's) on standard error.
void report_unresolved(const std::string& host, const std::string& reason);

// What the transport told: a break, a reconnection, a failure to set it up
// (the reason of a missing UDP socket on standard error). A wait shows on the
// progress line only.
void report_transport_event(const std::string& host, const std::string& port,
                            const transport_event& event);

// "Successfully sent N logs from PATH file", then the lines that could not be
// sent, if any, with the reason of the first.
void report_sent(const std::string& path, const delivery_count& count);

void report_unopenable(const std::string& path);
void report_read_error(const std::string& path, const std::string& reason);
void report_damaged_archive(const std::string& archive, long long lines, const std::string& reason);
void report_skipped_archive(const std::string& archive);
void report_slow_pause();
void report_stopped(int signal_number);
void report_exception(const char* what);  // nullptr: an exception of unknown type
