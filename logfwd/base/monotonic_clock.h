// SPDX-License-Identifier: Apache-2.0
// monotonic_clock.h: the run's one clock for intervals, deadlines and pacing.
// It is the monotonic clock, so a step of the wall clock (NTP, a hand-set
// date) neither stretches nor cuts a wait.
#pragma once

const long long NS_PER_SEC = 1000000000LL;
const long long NS_PER_MS = 1000000LL;

// Nanoseconds on CLOCK_MONOTONIC.
long long monotonic_ns();

inline long long monotonic_ms()
{
    return monotonic_ns() / NS_PER_MS;
}
