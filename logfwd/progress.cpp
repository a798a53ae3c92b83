// SPDX-License-Identifier: Apache-2.0
// progress.cpp: the progress line, drawn with "\r" and blanks only (no escape
// sequences: a serial console shows it as well as a terminal emulator), never
// wider than the terminal, never between the bytes of a standard output
// message, never from a background job. Unlike most progress meters it reads
// the clock only every so many lines, as many as come in a sixteenth of a second.
#include "progress.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "monotonic_clock.h"

progress_state progress;

namespace {
const long long DRAW_GAP_NS = NS_PER_SEC / 4;
const long long LOOK_GAP_NS = NS_PER_SEC / 16;
const long long MAX_STEP = 1 << 16;
const long long ESTIMATE_AFTER_NS = NS_PER_SEC;  // a pace over less says little
const int DEFAULT_COLUMNS = 80;                  // a serial console tells no width

// A name's control and non-ASCII bytes as "?": escape sequences in a file
// name must not reach the terminal, and each byte is then one column.
std::string printable(const std::string& name)
{
    std::string text = name;
    for (char& c : text)
        if (c < ' ' || c > '~')
            c = '?';
    return text;
}

void forget_file()
{
    if (progress.fd != -1)
        close(progress.fd);
    progress.fd = -1;
    progress.name.clear();
}

// A failed write (the terminal gone) ends the line for the run.
void put_on_terminal(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written > 0)
            done += static_cast<size_t>(written);
        else if (written != -1 || errno != EINTR)
            break;
    }
    if (done < text.size()) {
        progress.on = false;
        progress.next_look = LLONG_MAX;
    }
}

int terminal_columns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DEFAULT_COLUMNS;
}

// Over the line already there, blanks covering what the new one leaves of it.
void show(const std::string& text, long long now_ns)
{
    if (!progress.on || tcgetpgrp(STDERR_FILENO) != getpgrp())
        return;
    std::string line = "\r" + text;
    if (progress.drawn > text.size())
        line.append(progress.drawn - text.size(), ' ');
    put_on_terminal(line);
    progress.drawn = text.size();
    progress.drawn_ns = now_ns;
}

// Bytes read so far of the file in hand and its size (-1: not a regular file).
void read_share(long long& bytes_read, long long& size)
{
    struct stat info {};
    bytes_read = lseek(progress.fd, 0, SEEK_CUR);
    size = -1;
    if (bytes_read >= 0 && fstat(progress.fd, &info) == 0 && S_ISREG(info.st_mode))
        size = info.st_size;
}

std::string size_text(long long bytes)
{
    const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    for (; value >= 1024 && unit < 4; ++unit)
        value /= 1024;
    char text[32];
    snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string clock_text(long long seconds)
{
    char text[32];
    if (seconds >= 3600)
        snprintf(text, sizeof(text), "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        snprintf(text, sizeof(text), "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}
}  // namespace

void progress_look()
{
    // As many lines as come in LOOK_GAP_NS at the pace just seen, growing at
    // most twofold a look.
    const long long now = monotonic_ns();
    const long long gap = std::max(now - progress.looked_ns, 1LL);
    progress.step = std::clamp(progress.step * LOOK_GAP_NS / gap, 1LL, std::min(progress.step * 2, MAX_STEP));
    progress.looked_ns = now;
    progress.next_look = progress.lines + progress.step;
    if (now - progress.drawn_ns < DRAW_GAP_NS)
        return;
    long long bytes_read = 0;
    long long size = 0;
    read_share(bytes_read, size);
    show(progress_text(progress.name, progress_figures(progress.lines, bytes_read, size,
                                                       now - progress.started_ns),
                       terminal_columns()),
         now);
}

void progress_file(const std::string& name, int fd)
{
    if (!progress.on)
        return;
    forget_file();
    progress.fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    progress.name = name;
    progress.lines = 0;
    progress.step = 1;
    progress.next_look = 1;
    progress.started_ns = progress.looked_ns = monotonic_ns();
}

void progress_wait(const char* what, long long seconds_left)
{
    if (!progress.on)
        return;
    show(progress_text("", std::string(what) + ", " + std::to_string(seconds_left) + " s left",
                       terminal_columns()),
         monotonic_ns());
}

void progress_clear()
{
    if (progress.drawn == 0)
        return;
    put_on_terminal("\r" + std::string(progress.drawn, ' ') + "\r");
    progress.drawn = 0;
}

std::string progress_figures(long long lines, long long bytes_read, long long size,
                             long long elapsed_ns)
{
    std::string text = std::to_string(lines) + " lines";
    const bool share = size > 0 && bytes_read >= 0;
    if (share)
        text += ", " + std::to_string(std::min(bytes_read, size) * 100 / size) + "% of " + size_text(size);
    if (elapsed_ns < ESTIMATE_AFTER_NS)
        return text;
    const double seconds = static_cast<double>(elapsed_ns) / NS_PER_SEC;
    text += ", " + std::to_string(static_cast<long long>(lines / seconds)) + " lines/s";
    if (share && bytes_read > 0 && bytes_read < size)
        text += ", " + clock_text(static_cast<long long>(std::ceil(
                           static_cast<double>(size - bytes_read) * seconds / bytes_read))) + " left";
    return text;
}

std::string progress_text(const std::string& raw_name, const std::string& figures, int columns)
{
    // The last column would make some terminals wrap.
    const size_t width = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    if (raw_name.empty())
        return figures.substr(0, width);
    const std::string name = printable(raw_name);
    const std::string tail = ": " + figures;
    if (name.size() + tail.size() <= width)
        return name + tail;
    const std::string cut = "...";
    const size_t room = width > cut.size() + tail.size() ? width - cut.size() - tail.size() : 0;
    return (cut + name.substr(name.size() - std::min(room, name.size())) + tail).substr(0, width);
}

progress_display::progress_display()
{
    if (!isatty(STDERR_FILENO))
        return;
    progress = progress_state{};
    progress.on = true;
}

progress_display::~progress_display()
{
    progress_clear();
    forget_file();
    progress.on = false;
    progress.next_look = LLONG_MAX;
}
