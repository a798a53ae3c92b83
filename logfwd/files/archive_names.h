// SPDX-License-Identifier: Apache-2.0
// archive_names.h: the rotated archives beside a log file (messages.1.gz,
// ...) by their names: which directory entries are archives, their numbers,
// their order (highest number first), and the name an archive is reported by.
#pragma once

#include <string>
#include <vector>

// The number between the last "." in front of the last ".gz" and that ".gz",
// read as strtol reads it (clamped to int); -1 when either is missing.
int archive_number(const std::string& path);
bool archive_number_less(const std::string& first, const std::string& second);

// Highest number first; equal numbers in the reverse of their order in the list.
void order_archive_files(std::vector<std::string>& archives);

// The folder that path lies in, as archive paths name it: "." for a bare
// name, "" for a name directly under "/".
std::string folder_of(const std::string& path);

// The names of folder's entries, in the order the directory gives them;
// none when it cannot be opened.
std::vector<std::string> folder_entries(const std::string& folder);

// Directory entries beside log_path whose names contain its base name and "."
// and also ".gz", as "DIRECTORY/NAME", ordered.
std::vector<std::string> list_archive_files(const std::string& log_path);

// True for a listed archive that is sent: its name ends in ".gz".
bool archive_to_send(const std::string& archive);

// The archive path cut before its last ".gz": the name it is reported by.
std::string decompressed_path(const std::string& archive);
