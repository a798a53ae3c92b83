// SPDX-License-Identifier: Apache-2.0
// The monotonic clock, read in one place.
#include "monotonic_clock.h"

#include <ctime>

long long monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * NS_PER_SEC + now.tv_nsec;
}
