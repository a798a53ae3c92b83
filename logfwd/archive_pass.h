// SPDX-License-Identifier: Apache-2.0
// archive_pass.h: the run with "all": the archives beside the log file,
// highest number first, then the log file, all from one snapshot taken before
// the first line is sent.
#pragma once

#include <string>

#include "syslog_transport.h"

// Every archive read through zlib (a minute's pause after each when slow),
// then the log file. Nothing is written, renamed or removed. Stops between two
// lines at a stop signal, after the report of the file in hand; the files
// after it are left alone.
void forward_archives(const std::string& log_path, syslog_transport& transport, bool slow);
