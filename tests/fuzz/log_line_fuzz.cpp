// SPDX-License-Identifier: Apache-2.0
// log_line_fuzz.cpp: send_log_file on a file holding the input, through a UDP
// transport whose send() is replaced at link time (--wrap) by a recorder. Every line must give exactly
// one datagram, whose text is worked out here by a separate character scan.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "fuzz_captured_output.h"
#include "fuzz_check.h"
#include "fuzz_lines.h"
#include "fuzz_temp_file.h"
#include "line_sender.h"
#include "syslog_message.h"

namespace {
std::vector<std::string> datagrams;  // what send_log_file handed to send
bool stray_send = false;             // a send on a socket not connected to the destination

sockaddr_in destination_address()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(514);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int priority_of(const std::string& level_word)
{
    static const std::map<std::string, int> severities = {
        {"user.emerg", 0}, {"user.alert", 1}, {"user.err", 3},   {"user.warn", 4},
        {"user.notice", 5}, {"user.info", 6}, {"user.debug", 7},
    };
    auto found = severities.find(level_word);
    return 8 + (found == severities.end() ? 7 : found->second);
}

// One pass over the line, waiting for " ", " ", ":", ":", " ", " ", " " in
// turn; the level word lies between the last two.
std::string expected_datagram(const std::string& line)
{
    const char order[7] = {' ', ' ', ':', ':', ' ', ' ', ' '};
    size_t seen = 0, word_start = 0, word_end = 0;
    for (size_t i = 0; i < line.size() && seen < 7; ++i) {
        if (line[i] != order[seen])
            continue;
        if (++seen == 6)
            word_start = i + 1;
        word_end = i;
    }
    if (seen < 7)
        return "<15>" + line;
    return "<" + std::to_string(priority_of(line.substr(word_start, word_end - word_start))) + ">" +
           line.substr(0, word_start) + line.substr(word_end + 1);
}

void check_file(const std::string& input)
{
    temp_file file(input);
    sockaddr_in address = destination_address();
    addrinfo destination{};
    destination.ai_family = AF_INET;
    destination.ai_socktype = SOCK_DGRAM;
    destination.ai_addr = reinterpret_cast<sockaddr*>(&address);
    destination.ai_addrlen = sizeof address;
    datagrams.clear();
    stray_send = false;
    captured_output output;
    const transport_settings unpaced{SYSLOG_UDP, 0, FRAMING_OCTET_COUNTING, tls_settings()};
    const transport_handle transport =
        open_transport(&destination, "127.0.0.1", unpaced, [](const transport_event&) {});
    FUZZ_CHECK(transport != nullptr, "no UDP transport");
    send_log_file(*transport, file.path);
    std::vector<std::string> lines = lines_of(input);
    FUZZ_CHECK(!stray_send, "datagram sent elsewhere than the destination");
    FUZZ_CHECK(datagrams.size() == lines.size(), "%zu datagrams for %zu lines", datagrams.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(datagrams[i] == expected_datagram(lines[i]), "line %zu: datagram \"%s\", expected \"%s\"", i,
                   datagrams[i].c_str(), expected_datagram(lines[i]).c_str());
    std::string report = "Successfully sent " + std::to_string(lines.size()) + " logs from " + file.path + " file\n";
    FUZZ_CHECK(output.text.str() == report, "report \"%s\"", output.text.str().c_str());
}
}  // namespace

// Linked with --wrap=send: send_log_file's datagrams land here.
extern "C" ssize_t __wrap_send(int fd, const void* buffer, size_t length, int flags)
{
    const sockaddr_in expected = destination_address();
    sockaddr_in peer{};
    socklen_t peer_length = sizeof peer;
    stray_send |= flags != 0 || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0 ||
                  peer_length != sizeof expected || memcmp(&peer, &expected, sizeof expected) != 0;
    datagrams.emplace_back(static_cast<const char*>(buffer), length);
    return static_cast<ssize_t>(length);
}

// Input: the content of a log file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    check_file(input);
    // The builder alone, for a line that holds newlines too.
    FUZZ_CHECK(build_message(input) == expected_datagram(input), "whole input as one line");
    return 0;
}
