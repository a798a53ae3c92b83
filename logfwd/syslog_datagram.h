// SPDX-License-Identifier: Apache-2.0
// syslog_datagram.h: the RFC 3164 message for one log line.
#pragma once

#include <string>
#include <string_view>

// Priority sent for a level word: facility user (8) plus the severity of
// "user.emerg" ... "user.debug"; 15 for every other word.
int level_priority(std::string_view level_word);

// The datagram for one line (its newline already removed), written over
// datagram so that a reused string needs no new memory.
void build_datagram(std::string_view line, std::string& datagram);
std::string build_datagram(const std::string& line);
