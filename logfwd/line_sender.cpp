// SPDX-License-Identifier: Apache-2.0
// The syslog line sender: reads lines (of a file here, of an archive in
// archive_reader.cpp) and sends each line's message (syslog_datagram.h)
// through the run's transport, and prints what the transport reports. Unlike
// a std::ifstream loop it refuses directories and counts lines the transport
// could not deliver apart from sent ones.
#include "line_sender.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "progress.h"
#include "syslog_datagram.h"

namespace {
struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using input_file = std::unique_ptr<FILE, file_closer>;

// Opens as an input file stream does: a FIFO waits for its writer (a stop
// signal ends the wait: EINTR). Directories count as unopenable.
int open_for_reading(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd != -1 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

// A file read line by line with getline into one reused buffer, freed on every path.
struct file_lines {
    FILE* file = nullptr;
    char* data = nullptr;
    size_t capacity = 0;
    int read_error = 0;

    explicit file_lines(FILE* opened) : file(opened) {}
    ~file_lines() { free(data); }
    file_lines(const file_lines&) = delete;
    file_lines& operator=(const file_lines&) = delete;
};

// The next line without its newline; false at end of file or on a read error
// (noted). Running out of memory throws, as std::getline would.
bool read_file_line(void* state, std::string_view& line)
{
    auto& lines = *static_cast<file_lines*>(state);
    errno = 0;
    const ssize_t length = getline(&lines.data, &lines.capacity, lines.file);
    if (length == -1) {
        if (ferror(lines.file))
            lines.read_error = errno;
        else if (errno == ENOMEM)
            throw std::bad_alloc();
        return false;
    }
    line = std::string_view(lines.data, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return true;
}

}  // namespace

void print_transport_events(const syslog_destination& destination,
                            const transport_events& events)
{
    const std::string& host = destination.host;
    const std::string& port = destination.port;
    for (const transport_event& event : events) {
        if (event.kind == TRANSPORT_LOST)
            std::cout << "Connection to " << host << " port " << port << " lost: " << event.reason;
        else if (event.kind == TRANSPORT_RECONNECTED)
            std::cout << "Reconnected to " << host << " port " << port;
        else if (event.kind == TRANSPORT_TLS_REFUSED)
            std::cout << "ERROR in TLS connection to " << host << " port " << port << ": "
                      << event.reason;
        else if (event.kind == TRANSPORT_NO_CONNECTION)
            std::cout << "ERROR in connecting to " << host << " port " << port << ": "
                      << event.reason;
        else
            std::cout << "ERROR in opening socket";
        std::cout << std::endl;
    }
}

delivery_count send_lines(line_reader lines, syslog_destination& destination,
                          const volatile sig_atomic_t& stop_requested)
{
    delivery_count count;
    std::string_view line;
    std::string message;
    while (stop_requested == 0 && lines.read(lines.state, line)) {
        build_datagram(line, message);
        print_transport_events(destination, send_message(destination, message, count));
        progress_line();
    }
    for (;;) {
        const transport_events events = flush_messages(destination, count);
        if (events.empty())
            break;
        print_transport_events(destination, events);
    }
    return count;
}

void report_sent(const std::string& path, const delivery_count& count)
{
    std::cout << "Successfully sent " << count.sent << " logs from " << path << " file"
              << std::endl;
    if (count.failed != 0)
        std::cout << "Failed to send " << count.failed << " logs from " << path
                  << " file: " << count.first_error << std::endl;
}

void send_log_file(syslog_destination& destination, const std::string& path,
                   const volatile sig_atomic_t& stop_requested)
{
    const int fd = open_for_reading(path);
    if (fd != -1)
        send_open_file(destination, fd, path, stop_requested);
    else if (stop_requested == 0)
        std::cout << "Impossible to open the file " << path << " in Read Mode" << std::endl;
}

void send_open_file(syslog_destination& destination, int fd, const std::string& path,
                    const volatile sig_atomic_t& stop_requested)
{
    const input_file file(fdopen(fd, "r"));
    if (!file) {
        close(fd);
        std::cout << "Impossible to open the file " << path << " in Read Mode" << std::endl;
        return;
    }
    file_lines lines(file.get());
    progress_file(path, fd);
    const delivery_count count = send_lines(line_reader{read_file_line, &lines}, destination,
                                            stop_requested);
    // EINTR: a stop signal cut a read short; the run ends after this report.
    if (lines.read_error != 0 && lines.read_error != EINTR)
        std::cout << "Error while reading the file " << path << ": "
                  << strerror(lines.read_error) << std::endl;
    report_sent(path, count);
}
