// SPDX-License-Identifier: Apache-2.0
// The syslog line sender: reads lines (of a text file or of a gzip archive,
// files/), builds each line's message (syslog_message.h) and hands it to
// the run's transport; then reports what was sent and what could not be.
#include "line_sender.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "archive_reader.h"
#include "progress.h"
#include "report.h"
#include "stop_signals.h"
#include "syslog_message.h"
#include "text_lines.h"

namespace {
// A file that cannot be read; after a stop signal, a FIFO whose open it ended.
bool unopened(int fd, const std::string& path)
{
    if (fd != -1)
        return false;
    if (!stop_requested())
        report_unopenable(path);
    return true;
}
}  // namespace

delivery_count send_lines(line_source lines, syslog_transport& transport)
{
    delivery_count count;
    std::string_view line;
    std::string message;
    while (!stop_requested() && lines.read(lines.state, line)) {
        build_message(line, message);
        send_message(transport, message, count);
        progress_line();
    }
    flush_messages(transport, count);  // after a stop signal: counts what is acknowledged by now
    return count;
}

void send_file(syslog_transport& transport, int fd, const std::string& path)
{
    if (unopened(fd, path))
        return;
    progress_file(path, fd);
    text_lines lines(fd);
    if (!lines.file) {
        report_unopenable(path);
        return;
    }
    const delivery_count count = send_lines(text_line_source(lines), transport);
    // EINTR: a stop signal cut a read short; the run ends after this report.
    if (lines.read_error != 0 && lines.read_error != EINTR)
        report_read_error(path, strerror(lines.read_error));
    report_sent(path, count);
}

void send_log_file(syslog_transport& transport, const std::string& path)
{
    send_file(transport, open_for_reading(path), path);
}

void send_archive(syslog_transport& transport, int fd, const std::string& archive,
                  const std::string& plain)
{
    if (unopened(fd, archive))
        return;
    progress_file(archive, fd);
    const archive_handle lines = open_archive_lines(fd);
    report_sent(plain, send_lines(archive_line_source(*lines), transport));
    if (!archive_damage(*lines).empty())
        report_damaged_archive(archive, archive_lines_read(*lines), archive_damage(*lines));
}
