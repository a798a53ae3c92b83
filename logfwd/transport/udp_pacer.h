// SPDX-License-Identifier: Apache-2.0
// udp_pacer.h: spaces datagrams out so that the receiver's socket buffer
// keeps up. Lines leave in small bursts on an absolute schedule of the
// monotonic clock (no drift), and the sender sleeps between bursts.
#pragma once

struct udp_pacer {
    long long rate = 0;      // lines per second; 0: no pacing at all
    long long burst = 1;     // lines that leave together at one point of the schedule
    bool started = false;
    long long origin_ns = 0; // monotonic time of line 0 of the schedule
    long long lines = 0;     // lines let through since origin_ns
};

// A pacer for rate lines per second (0: unpaced): bursts of at most 10
// lines, and up to 20,000 lines/s no more than one burst every half millisecond.
udp_pacer make_udp_pacer(long long rate);

// Counts one more line and returns the monotonic time (ns) at which it may
// leave; now_ns or earlier means at once. A sender that fell more than one
// burst behind (the slow pause, a busy machine) starts a new schedule at
// now_ns instead of catching up with a flood.
long long pacer_next_due(udp_pacer& pacer, long long now_ns);

// Sleeps until the next line may leave (no-op when unpaced).
void pace_line(udp_pacer& pacer);
