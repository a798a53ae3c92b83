// SPDX-License-Identifier: Apache-2.0
// Log tracer stand-in: one line per record on standard error, written with a
// single write so that records from several processes do not interleave.
// Layout: time app controller-fid level file:line function: message
// Control characters inside a record are written as \xNN, so that a value
// taken from a bus message can neither split a record nor forge one.
#include "log_tracer.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace {
std::string tracer_app = "-";
std::string tracer_fid = "-";

std::string trace_time()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    char text[40];
    size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(now.tv_usec / 1000));
    return text;
}

std::string vformat(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0)
        return format;
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    return text;
}
// The record on one line: its own trailing newline kept, every other
// control character made visible.
std::string one_line(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool last_newline = c == '\n' && i + 1 == text.size();
        if (c >= 0x20 || c == '\t' || last_newline) {
            out += static_cast<char>(c);
        } else {
            char code[5];
            snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        }
    }
    if (out.empty() || out.back() != '\n')
        out += '\n';
    return out;
}
}  // namespace

void initLogTracer(const char* app_name, const char* controller_fid)
{
    tracer_app = app_name ? app_name : "-";
    tracer_fid = controller_fid ? controller_fid : "-";
}

void logTracePrint(const char* source_file, int source_line, const char* function, int level,
                   const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = vformat(format, args);
    va_end(args);

    const std::string record = one_line(trace_time() + " " + tracer_app + " " + tracer_fid + " " +
                         std::to_string(level) + " " + source_file + ":" +
                         std::to_string(source_line) + " " + function + ": " + message);
    // Best effort: a tracer has nowhere to report its own failure.
    const char* p = record.data();
    size_t left = record.size();
    while (left > 0) {
        ssize_t n = write(STDERR_FILENO, p, left);
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
}
