// SPDX-License-Identifier: Apache-2.0
// syslog_transport.cpp: one entry for both transports, so that the line
// sender reads, builds and hands over lines the same way whatever carries them.
#include "syslog_transport.h"

#include <cerrno>
#include <sys/socket.h>

namespace {
void send_datagram(syslog_destination& destination, std::string_view datagram,
                   delivery_count& count)
{
    pace_line(destination.pacer);
    ssize_t result = 0;
    do {
        result = sendto(destination.socket_fd, datagram.data(), datagram.size(), 0,
                        destination.address->ai_addr, destination.address->ai_addrlen);
    } while (result == -1 && errno == EINTR);
    if (result != -1)
        ++count.sent;
    else
        count_failure(count, errno);
}
}  // namespace

void send_message(syslog_destination& destination, std::string_view message,
                  delivery_count& count)
{
    if (destination.protocol != SYSLOG_UDP)
        append_frame(destination.stream, message, count);
    else
        send_datagram(destination, message, count);
}

void flush_messages(syslog_destination& destination, delivery_count& count)
{
    if (destination.protocol != SYSLOG_UDP)
        flush_frames(destination.stream, count);
}
