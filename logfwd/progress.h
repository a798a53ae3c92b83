// SPDX-License-Identifier: Apache-2.0
// progress.h: the progress line of a run whose standard error is a terminal:
// the file in hand, its lines, the share read, the pace and the time left,
// rewritten in place at most four times a second. Standard output never
// changes: the one writer of messages (report.cpp) takes the line off the
// terminal before each of them.
#pragma once

#include <climits>
#include <string>

// The run's one progress state; on only while a progress_display is alive
// and standard error is a terminal.
struct progress_state {
    bool on = false;
    long long lines = 0;              // lines of the file in hand, handed to the transport
    long long next_look = LLONG_MAX;  // the line count at which the clock is read next
    long long step = 1;               // lines between two looks at the clock
    std::string name;                 // the file in hand
    int fd = -1;                      // a duplicate of its descriptor: same offset, ours to close
    long long started_ns = 0;         // monotonic time of its first line
    long long looked_ns = 0;
    long long drawn_ns = 0;
    size_t drawn = 0;                 // bytes of the line now on the terminal; 0: none
};
extern progress_state progress;

void progress_look();

// Counts one line of the file in hand: an addition and a comparison, except
// every few lines (about sixteen times a second), when the clock is read.
inline void progress_line()
{
    if (++progress.lines >= progress.next_look)
        progress_look();
}

// The file (or archive) whose lines come next, open at fd; its share is the
// offset of fd against the file's size (an archive's compressed bytes).
void progress_file(const std::string& name, int fd);

// A wait with seconds_left to go ("slow-mode pause", "reconnecting"), shown at once.
void progress_wait(const char* what, long long seconds_left);

// Takes the line off the terminal, if it is on it; the next look draws it again.
void progress_clear();

// The figures after the name: "N lines[, P% of SIZE][, R lines/s[, M:SS left]]";
// the share for a known size (not -1), the pace and estimate after a second.
std::string progress_figures(long long lines, long long bytes_read, long long size,
                             long long elapsed_ns);

// "NAME: FIGURES" (FIGURES alone for no name) in at most columns - 1 bytes:
// the name cut from its front ("...") first, then the end of the figures.
// The name's control and non-ASCII bytes become "?".
std::string progress_text(const std::string& name, const std::string& figures, int columns);

// The progress line for its lifetime, when standard error is a terminal. At
// the end (exceptions included) the line is taken off the terminal.
class progress_display {
public:
    progress_display();
    ~progress_display();
    progress_display(const progress_display&) = delete;
    progress_display& operator=(const progress_display&) = delete;
};
