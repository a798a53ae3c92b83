// The syslog line sender: each line goes out as "<PRI>" and the line without
// its level word (RFC 3164). Unlike a std::ifstream loop it never blocks on a
// FIFO, refuses directories, and counts refused datagrams apart from sent ones.
#include "line_sender.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <new>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run.h"

namespace {
// Separators 0 to 6 of a log line "Jan 12 06:30:01 ctrl user.warn app[42]: text";
// the text in front of separator 6 is the level word.
const char FIELD_ENDS[] = {' ', ' ', ':', ':', ' ', ' ', ' '};
const int FIELDS_BEFORE_TAG = sizeof(FIELD_ENDS);
const int DEFAULT_PRIORITY = 15;

struct level_entry {
    std::string_view word;
    int priority;
};
const level_entry LEVELS[] = {
    {"user.emerg", 8},  {"user.alert", 9}, {"user.err", 11},   {"user.warn", 12},
    {"user.notice", 13}, {"user.info", 14}, {"user.debug", 15},
};

// Finds the level word: true, with its first and one-past-last offsets, when
// separators 0 to 6 all occur in order.
bool find_level_word(std::string_view line, size_t& begin, size_t& end)
{
    size_t position = 0;
    for (int i = 0; i < FIELDS_BEFORE_TAG; ++i) {
        size_t found = line.find(FIELD_ENDS[i], position);
        if (found == std::string_view::npos)
            return false;
        begin = position;
        end = found;
        position = found + 1;
    }
    return true;
}

void append_priority(std::string& datagram, int priority)
{
    datagram += '<';
    if (priority >= 10)
        datagram += static_cast<char>('0' + priority / 10);
    datagram += static_cast<char>('0' + priority % 10);
    datagram += '>';
}

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
    long long sent = 0;
    long long failed = 0;
    int first_error = 0;
    int read_error = 0;
};

void send_datagram(const std::string& datagram, const addrinfo* destination, int socket_fd,
                   send_tally& tally)
{
    ssize_t result = 0;
    do {
        result = sendto(socket_fd, datagram.data(), datagram.size(), 0, destination->ai_addr,
                        destination->ai_addrlen);
    } while (result == -1 && errno == EINTR);
    if (result != -1) {
        ++tally.sent;
        return;
    }
    if (tally.failed++ == 0)
        tally.first_error = errno;
}

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

send_tally send_lines(FILE* file, const addrinfo* destination, int socket_fd)
{
    send_tally tally;
    line_buffer buffer;
    std::string_view line;
    std::string datagram;
    while (!stop_signal && read_line(file, buffer, line, tally)) {
        build_datagram(line, datagram);
        send_datagram(datagram, destination, socket_fd, tally);
    }
    return tally;
}

void report(const std::string& path, const send_tally& tally)
{
    if (tally.read_error != 0)
        std::cout << "Error while reading the file " << path << ": "
                  << strerror(tally.read_error) << std::endl;
    std::cout << "Successfully sent " << tally.sent << " logs from " << path << " file"
              << std::endl;
    if (tally.failed != 0)
        std::cout << "Failed to send " << tally.failed << " logs from " << path
                  << " file: " << strerror(tally.first_error) << std::endl;
}
}  // namespace

int level_priority(std::string_view level_word)
{
    for (const level_entry& level : LEVELS) {
        if (level.word == level_word)
            return level.priority;
    }
    return DEFAULT_PRIORITY;
}

// A line with all of separators 0 to 6 loses its level word and the blank
// after it; any other line goes out whole, as a debug-level user message.
void build_datagram(std::string_view line, std::string& datagram)
{
    size_t begin = 0;
    size_t end = 0;
    datagram.clear();
    if (!find_level_word(line, begin, end)) {
        append_priority(datagram, DEFAULT_PRIORITY);
        datagram.append(line);
        return;
    }
    append_priority(datagram, level_priority(line.substr(begin, end - begin)));
    datagram.append(line.substr(0, begin));
    datagram.append(line.substr(end + 1));
}

std::string build_datagram(const std::string& line)
{
    std::string datagram;
    build_datagram(std::string_view(line), datagram);
    return datagram;
}

void send_log_file(const addrinfo* destination, int socket_fd, const std::string& path)
{
    input_file file = open_for_reading(path);
    if (!file) {
        std::cout << "Impossible to open the file " << path << " in Read Mode" << std::endl;
        return;
    }
    report(path, send_lines(file.get(), destination, socket_fd));
}
