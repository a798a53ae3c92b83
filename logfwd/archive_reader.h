// SPDX-License-Identifier: Apache-2.0
// archive_reader.h: a gzip archive's lines sent straight from the archive,
// through zlib, without a decompressed copy anywhere.
#pragma once

#include <csignal>
#include <string>

#include "line_sender.h"

// Sends the lines of the gzip archive open at fd (taken over and closed),
// every member of it in order, to destination, reading it in blocks and
// writing nothing anywhere. Reports as send_log_file does for a file at plain,
// the decompressed path, which is never opened; a damaged archive has its
// readable lines sent (a last partial line too), then "Archive ARCHIVE is
// damaged after N lines: REASON".
void send_archive(syslog_destination& destination, int fd, const std::string& archive,
                  const std::string& plain, const volatile sig_atomic_t& stop_requested);
