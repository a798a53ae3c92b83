// The syslog line sender: reads a file line by line and sends each line's
// datagram (syslog_datagram.h) through the run's transport. Unlike a std::ifstream
// loop it never blocks on a FIFO, refuses directories, and counts lines the
// transport could not hand over apart from sent ones.
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

#include "syslog_datagram.h"

namespace {
struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using input_file = std::unique_ptr<FILE, file_closer>;

// Opens without waiting for a FIFO's writer (none means end of file at once),
// then reads blocking as usual. Directories count as unopenable.
input_file open_for_reading(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return nullptr;
    struct stat info {};
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags == -1 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "r");
    if (!file)
        close(fd);
    return input_file(file);
}

// getline's buffer, reused for every line of the file and freed on every path.
struct line_buffer {
    char* data = nullptr;
    size_t capacity = 0;
    ~line_buffer() { free(data); }
};

struct send_tally {
    delivery_count delivery;
    int read_error = 0;
};

// Reads the next line without its newline; false at end of file or on a read
// error (noted in tally). Running out of memory throws, as std::getline would.
bool read_line(FILE* file, line_buffer& buffer, std::string_view& line, send_tally& tally)
{
    errno = 0;
    ssize_t length = getline(&buffer.data, &buffer.capacity, file);
    if (length == -1) {
        if (ferror(file))
            tally.read_error = errno;
        else if (errno == ENOMEM)
            throw std::bad_alloc();
        return false;
    }
    line = std::string_view(buffer.data, static_cast<size_t>(length));
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return true;
}

send_tally send_lines(FILE* file, syslog_destination& destination,
                      const volatile sig_atomic_t& stop_requested)
{
    send_tally tally;
    line_buffer buffer;
    std::string_view line;
    std::string datagram;
    while (stop_requested == 0 && read_line(file, buffer, line, tally)) {
        build_datagram(line, datagram);
        send_message(destination, datagram, tally.delivery);
    }
    flush_messages(destination, tally.delivery);
    return tally;
}

void report(const std::string& path, const send_tally& tally)
{
    if (tally.read_error != 0)
        std::cout << "Error while reading the file " << path << ": "
                  << strerror(tally.read_error) << std::endl;
    const delivery_count& delivery = tally.delivery;
    std::cout << "Successfully sent " << delivery.sent << " logs from " << path << " file"
              << std::endl;
    if (delivery.failed != 0)
        std::cout << "Failed to send " << delivery.failed << " logs from " << path
                  << " file: " << strerror(delivery.first_error) << std::endl;
}
}  // namespace

void send_log_file(syslog_destination& destination, const std::string& path,
                   const volatile sig_atomic_t& stop_requested)
{
    input_file file = open_for_reading(path);
    if (!file) {
        std::cout << "Impossible to open the file " << path << " in Read Mode" << std::endl;
        return;
    }
    report(path, send_lines(file.get(), destination, stop_requested));
}
