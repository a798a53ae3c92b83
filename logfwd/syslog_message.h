// SPDX-License-Identifier: Apache-2.0
// syslog_message.h: the RFC 3164 message for one log line, whatever carries
// it: a UDP datagram, or the body of a TCP or TLS frame.
#pragma once

#include <string>
#include <string_view>

// Priority sent for a level word: facility user (8) plus the severity of
// "user.emerg" ... "user.debug"; 15 for every other word.
int level_priority(std::string_view level_word);

// The message for one line (its newline already removed), written over
// message so that a reused string needs no new memory.
void build_message(std::string_view line, std::string& message);
std::string build_message(const std::string& line);
