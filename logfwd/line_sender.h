// SPDX-License-Identifier: Apache-2.0
// line_sender.h: the lines of a log file, or of an archive, to the syslog
// server, one message per line, and the report of what became of them.
#pragma once

#include <string>

#include "delivery_count.h"
#include "line_source.h"
#include "syslog_transport.h"

// Sends one message per line until the lines end or a stop signal comes
// (looked at between two lines), then has the transport deliver what it still
// holds (streams: until the server acknowledged it), unless a stop signal came.
delivery_count send_lines(line_source lines, syslog_transport& transport);

// Sends every line of the file open at fd (taken over and closed) and reports
// the counts under path once every line is sent or failed. fd -1: the file
// could not be opened, which is reported, unless a stop signal ended the open.
void send_file(syslog_transport& transport, int fd, const std::string& path);

// send_file for the file at path. A FIFO is waited for until a writer opens
// it, as cat does; a stop signal ends the wait quietly.
void send_log_file(syslog_transport& transport, const std::string& path);

// Sends the lines of the gzip archive open at fd (taken over and closed; -1 as
// for send_file), reported under plain, the decompressed path, which is never
// opened. A damaged archive has its readable lines sent (a last partial one
// too), then "Archive ARCHIVE is damaged after N lines: REASON".
void send_archive(syslog_transport& transport, int fd, const std::string& archive,
                  const std::string& plain);
