// SPDX-License-Identifier: Apache-2.0
// logfwd's messages, byte for byte as scripts that read them expect: one
// line each on standard output, ended by a newline and flushed at once, after
// the progress line is taken off the terminal. A failed write (a closed
// standard output) fails quietly; the run goes on.
#include "report.h"

#include <cstring>
#include <iostream>

#include "progress.h"

namespace {
// The one writer of standard output.
void say(const std::string& text)
{
    progress_clear();
    std::cout << text << std::endl;
}

void detail(const std::string& text)
{
    progress_clear();
    std::cerr << "logfwd: " << text << std::endl;
}

std::string server(const std::string& host, const std::string& port)
{
    return host + " port " + port;
}
}  // namespace

void report_usage(const char* program_name)
{
    say(std::string("Usage: ") + program_name + " filename [all] [all slow]");
    say("\tfilename: path of the file that contains the logs to send");
    say("\tall: sends also the logs that are in associated archive files");
    say("\tslow; sleeps 60 seconds between each archive file to be able to read all of them in "
        "Syslog Watcher");
}

void report_settings_missing(const char* path)
{
    say(std::string("Setting file ") + path + " is missing.");
}

void report_no_host(const char* path)
{
    say(std::string("Impossible to read syslog host from ") + path + " file.");
}

void report_settings_refused(const std::string& refusal)
{
    say(refusal);
}

void report_invalid_value(const char* key, const std::string& value, const char* path)
{
    say("Invalid value \"" + value + "\" for " + key + " in " + path);
}

void report_unresolved(const std::string& host, const std::string& reason)
{
    say("ERROR in getting info for socket opening");
    detail("cannot resolve \"" + host + "\": " + reason);
}

void report_transport_event(const std::string& host, const std::string& port,
                            const transport_event& event)
{
    switch (event.kind) {
    case TRANSPORT_NO_SOCKET:
        say("ERROR in opening socket");
        detail("no UDP socket for " + server(host, port) + ": " + event.reason);
        return;
    case TRANSPORT_NO_CONNECTION:
        say("ERROR in connecting to " + server(host, port) + ": " + event.reason);
        return;
    case TRANSPORT_TLS_REFUSED:
        say("ERROR in TLS connection to " + server(host, port) + ": " + event.reason);
        return;
    case TRANSPORT_SESSION_REFUSED:
        say("ERROR in RELP session with " + server(host, port) + ": " + event.reason);
        return;
    case TRANSPORT_LOST:
        say("Connection to " + server(host, port) + " lost: " + event.reason);
        return;
    case TRANSPORT_RECONNECTED:
        say("Reconnected to " + server(host, port));
        return;
    case TRANSPORT_WAITING:
        progress_wait(event.reason.c_str(), event.seconds_left);
        return;
    }
}

void report_sent(const std::string& path, const delivery_count& count)
{
    say("Successfully sent " + std::to_string(count.sent) + " logs from " + path + " file");
    if (count.failed != 0)
        say("Failed to send " + std::to_string(count.failed) + " logs from " + path +
            " file: " + count.first_error);
}

void report_unopenable(const std::string& path)
{
    say("Impossible to open the file " + path + " in Read Mode");
}

void report_read_error(const std::string& path, const std::string& reason)
{
    say("Error while reading the file " + path + ": " + reason);
}

void report_damaged_archive(const std::string& archive, long long lines, const std::string& reason)
{
    say("Archive " + archive + " is damaged after " + std::to_string(lines) + " lines: " + reason);
}

void report_skipped_archive(const std::string& archive)
{
    say("Skipping the archive " + archive + ": its name does not end in .gz");
}

void report_slow_pause()
{
    say("Sleeping 1 min...");
}

void report_stopped(int signal_number)
{
    say("Stopped by signal " + std::to_string(signal_number));
}

void report_exception(const char* what)
{
    say(what ? std::string("ERROR: Unexpected exception - ") + what : "ERROR: Unknown exception");
}
