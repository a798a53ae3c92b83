// SPDX-License-Identifier: Apache-2.0
// text_lines.h: a log file's lines, read one at a time into one reused
// buffer, so memory does not grow with the file. Unlike an input file
// stream, a directory counts as a file that cannot be opened.
#pragma once

#include <cstdio>
#include <string>

#include "line_source.h"

// Opens path for reading as an input file stream does: a FIFO waits for its
// writer (a stop signal ends the wait: EINTR). -1 for a directory too.
int open_for_reading(const std::string& path);

// The lines of a file opened at fd (taken over and closed with it).
struct text_lines {
    FILE* file = nullptr;  // nullptr when fd could not be taken over
    char* data = nullptr;
    size_t capacity = 0;
    int read_error = 0;    // errno of a failed read; EINTR after a stop signal

    explicit text_lines(int fd);
    ~text_lines();
    text_lines(const text_lines&) = delete;
    text_lines& operator=(const text_lines&) = delete;
};

// The line source of lines, whose file must be open.
line_source text_line_source(text_lines& lines);
