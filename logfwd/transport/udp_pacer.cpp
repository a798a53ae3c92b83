// SPDX-License-Identifier: Apache-2.0
// udp_pacer.cpp: the schedule is computed from the line count since its
// origin, never by adding up intervals, so rounding cannot accumulate.
#include "udp_pacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "monotonic_clock.h"
#include "stop_signals.h"

namespace {
const long long MAX_BURST = 10;
const long long MIN_BURST_GAP_NS = 500000;  // two thousand wake-ups a second at most

// Offset from the origin of line number lines, without overflowing for any
// count that a run can reach.
long long schedule_offset_ns(const udp_pacer& pacer, long long lines)
{
    return lines / pacer.rate * NS_PER_SEC + lines % pacer.rate * NS_PER_SEC / pacer.rate;
}
}  // namespace

udp_pacer make_udp_pacer(long long rate)
{
    udp_pacer pacer;
    pacer.rate = rate;
    if (rate > 0)
        pacer.burst = std::clamp((rate * MIN_BURST_GAP_NS + NS_PER_SEC - 1) / NS_PER_SEC, 1LL, MAX_BURST);
    return pacer;
}

long long pacer_next_due(udp_pacer& pacer, long long now_ns)
{
    if (pacer.rate <= 0)
        return now_ns;
    if (!pacer.started) {
        pacer.started = true;
        pacer.origin_ns = now_ns;
        pacer.lines = 0;
    }
    const long long line = pacer.lines++;
    const long long due = pacer.origin_ns + schedule_offset_ns(pacer, line - line % pacer.burst);
    if (line % pacer.burst == 0 && now_ns - due > schedule_offset_ns(pacer, pacer.burst)) {
        pacer.origin_ns = now_ns;
        pacer.lines = 1;
        return now_ns;
    }
    return due;
}

void pace_line(udp_pacer& pacer)
{
    if (pacer.rate <= 0)
        return;
    const long long now = monotonic_ns();
    const long long due = pacer_next_due(pacer, now);
    if (due <= now)
        return;
    const timespec wake{static_cast<time_t>(due / NS_PER_SEC), static_cast<long>(due % NS_PER_SEC)};
    // A signal cuts the sleep short; the rest of at most one gap is slept
    // again, unless it was a stop signal.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR &&
           !stop_requested()) {
    }
}
