// SPDX-License-Identifier: Apache-2.0
// delivery_count.h: what became of the lines of one file at the transport:
// sent (UDP: taken by the socket; TCP, TLS: acknowledged by the server's
// TCP), or not deliverable.
#pragma once

#include <string>

struct delivery_count {
    long long sent = 0;
    long long failed = 0;     // lines that could not be sent
    std::string first_error;  // why the first of them could not
};

// Counts lines that could not be sent, keeping the first reason.
inline void count_failure(delivery_count& count, const std::string& reason, long long lines = 1)
{
    if (lines <= 0)
        return;
    if (count.failed == 0)
        count.first_error = reason;
    count.failed += lines;
}
