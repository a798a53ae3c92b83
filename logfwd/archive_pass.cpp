// SPDX-License-Identifier: Apache-2.0
// The archive pass: every file is read from a descriptor opened before the
// first line is sent (files/archive_snapshot.h), so a log rotation during the
// pass neither loses nor repeats a file, and nothing on disk changes.
#include "archive_pass.h"

#include <sys/stat.h>

#include "archive_names.h"
#include "archive_snapshot.h"
#include "line_sender.h"
#include "progress.h"
#include "report.h"
#include "stop_signals.h"

namespace {
const long long SLOW_PAUSE_SECS = 60;

// A second at a time, for the progress line's count down; a stop signal ends it.
void pause_a_minute()
{
    report_slow_pause();
    for (long long left = SLOW_PAUSE_SECS; left > 0; --left) {
        progress_wait("slow-mode pause", left);
        if (!pause_unless_stopped(1000))
            return;
    }
}

void forward_archive(snapshot_file& archive, syslog_transport& transport, bool slow)
{
    if (!archive_to_send(archive.path)) {
        report_skipped_archive(archive.path);
        return;
    }
    send_archive(transport, open_at_its_turn(archive), archive.path, decompressed_path(archive.path));
    if (slow && !stop_requested())
        pause_a_minute();
}

// The log file from the snapshot; a FIFO is opened only now and waited for
// until a writer comes, as cat does.
void forward_log_file(snapshot_file& log, syslog_transport& transport)
{
    if (log.identity.type == S_IFIFO)
        send_log_file(transport, log.path);
    else
        send_file(transport, open_at_its_turn(log), log.path);
}
}  // namespace

void forward_archives(const std::string& log_path, syslog_transport& transport, bool slow)
{
    archive_snapshot snapshot = take_archive_snapshot(log_path);
    for (size_t i = 0; i < snapshot.archives.size() && !stop_requested(); ++i)
        forward_archive(snapshot.archives[i], transport, slow);
    if (!stop_requested())
        forward_log_file(snapshot.log, transport);
}
