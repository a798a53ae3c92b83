// SPDX-License-Identifier: Apache-2.0
// Lines of a text file with getline(3): any length, NUL bytes kept, the
// buffer reused from line to line and freed on every path.
#include "text_lines.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The next line without its newline; false at end of file or on a read error
// (noted). Running out of memory throws, as std::getline would.
bool read_text_line(void* state, std::string_view& line)
{
    auto& lines = *static_cast<text_lines*>(state);
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

text_lines::text_lines(int fd) : file(fdopen(fd, "r"))
{
    if (!file)
        close(fd);
}

text_lines::~text_lines()
{
    free(data);
    if (file)
        fclose(file);
}

line_source text_line_source(text_lines& lines)
{
    return line_source{read_text_line, &lines};
}
