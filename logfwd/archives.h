// archives.h: the rotated archives beside a log file (messages.1.gz, ...),
// found, ordered highest number first, and sent one after the other.
#pragma once

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

// Each archive in turn: decompressed in place, sent, (slow: a minute's pause),
// compressed again. A stop signal during the pass ends the process by that
// signal once the archive in hand is compressed again.
void forward_archives(const std::string& log_path, syslog_destination& destination,
                      bool slow);
