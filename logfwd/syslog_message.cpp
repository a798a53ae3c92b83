// SPDX-License-Identifier: Apache-2.0
// syslog_message.cpp: one log line as a BSD syslog message (RFC 3164,
// section 4.1): "<PRI>" followed by the line without its level word. The line
// keeps its own time stamp and host, which stand where RFC 3164 puts the
// HEADER. Unlike the RFC, nothing is cut at 1024 bytes: lines go out whole.
#include "syslog_message.h"

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

void append_priority(std::string& message, int priority)
{
    message += '<';
    if (priority >= 10)
        message += static_cast<char>('0' + priority / 10);
    message += static_cast<char>('0' + priority % 10);
    message += '>';
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
void build_message(std::string_view line, std::string& message)
{
    size_t begin = 0;
    size_t end = 0;
    message.clear();
    if (!find_level_word(line, begin, end)) {
        append_priority(message, DEFAULT_PRIORITY);
        message.append(line);
        return;
    }
    append_priority(message, level_priority(line.substr(begin, end - begin)));
    message.append(line.substr(0, begin));
    message.append(line.substr(end + 1));
}

std::string build_message(const std::string& line)
{
    std::string message;
    build_message(std::string_view(line), message);
    return message;
}
