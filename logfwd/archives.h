// SPDX-License-Identifier: Apache-2.0
// archives.h: the rotated archives beside a log file (messages.1.gz, ...),
// found, ordered highest number first, and sent one after the other.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "line_sender.h"

// The number between the last "." in front of the last ".gz" and that ".gz",
// read as strtol reads it (clamped to int); -1 when either is missing.
int archive_number(const std::string& path);
bool archive_number_less(const std::string& first, const std::string& second);

// Highest number first; equal numbers in the reverse of their order in the list.
void order_archive_files(std::vector<std::string>& archives);

// Directory entries beside log_path whose names contain its base name and "."
// and also ".gz", as "DIRECTORY/NAME", ordered.
std::vector<std::string> list_archive_files(const std::string& log_path);

// The archive path cut before its last ".gz".
std::string decompressed_path(const std::string& archive);

// Each archive in turn, until the list ends or stop_requested becomes non-zero:
// decompressed in place, sent, (slow: a minute's pause), compressed again; one
// that cannot be decompressed in place (read-only folder, full disk, taken
// name, damage) is sent straight from the archive through zlib instead. The
// archive in hand is compressed again on every way out, exceptions included.
// False when an archive could not be compressed again: the pass stops there,
// the message names both paths, and no further archive is touched.
bool forward_archives(const std::string& log_path, syslog_destination& destination,
                      bool slow, const volatile sig_atomic_t& stop_requested);
