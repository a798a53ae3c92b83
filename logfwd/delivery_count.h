// SPDX-License-Identifier: Apache-2.0
// delivery_count.h: what became of the lines of one file at the transport:
// handed completely to the kernel, or not.
#pragma once

struct delivery_count {
    long long sent = 0;    // lines whose bytes the kernel took, all of them
    long long failed = 0;  // lines that could not be handed over
    int first_error = 0;   // errno of the first failure
};

// Counts one line that could not be handed over, keeping the first error.
inline void count_failure(delivery_count& count, int error, long long lines = 1)
{
    if (lines <= 0)
        return;
    if (count.failed == 0)
        count.first_error = error;
    count.failed += lines;
}
