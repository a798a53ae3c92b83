// line_sender.h: one log file to the syslog host, one RFC 3164 datagram per line.
#pragma once

#include <netdb.h>
#include <string>
#include <string_view>

// Priority sent for a level word: facility user (8) plus the severity of
// "user.emerg" ... "user.debug"; 15 for every other word.
int level_priority(std::string_view level_word);

// The datagram for one line (its newline already removed), written over
// datagram so that a reused string needs no new memory.
void build_datagram(std::string_view line, std::string& datagram);
std::string build_datagram(const std::string& line);

// Sends every line of the file at path to destination through socket_fd and
// reports the counts on standard output. Stops early, between two lines, once
// stop_signal is set.
void send_log_file(const addrinfo* destination, int socket_fd, const std::string& path);
