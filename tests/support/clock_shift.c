// SPDX-License-Identifier: Apache-2.0
/* clock_shift.c: a preload library for the end-to-end tests that moves the
 * wall clock (CLOCK_REALTIME, time, gettimeofday) CLOCK_SHIFT_SECONDS ahead;
 * the monotonic clock stays. Unlike libfaketime it is built for the target,
 * so that the emulator can load it into a cross-built program (QEMU_SET_ENV
 * LD_PRELOAD=...), and it serves both the 32-bit and the 64-bit time entry
 * points of 32-bit glibc. A 32-bit caller past 2038 gets what glibc's own
 * 32-bit calls give there: -1 and EOVERFLOW. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

struct timespec64 { /* glibc's struct __timespec64 (32-bit ARM: nanoseconds, then padding) */
    int64_t sec;
    int32_t nsec;
    int32_t pad;
};
struct timeval64 { /* glibc's struct __timeval64 */
    int64_t sec;
    int64_t usec;
};

static int64_t shift_seconds(void)
{
    const char* text = getenv("CLOCK_SHIFT_SECONDS");
    return text ? strtoll(text, NULL, 10) : 0;
}

static int is_wall_clock(clockid_t id)
{
    return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}

/* The kernel's clock in 64 bits on every architecture, shifted if it is the wall clock. */
static int read_clock(clockid_t id, int64_t* sec, long* nsec)
{
#ifdef SYS_clock_gettime64
    struct {
        int64_t sec;
        int64_t nsec;
    } now;
    long rc = syscall(SYS_clock_gettime64, id, &now);
#else
    struct {
        time_t sec;
        long nsec;
    } now;
    long rc = syscall(SYS_clock_gettime, id, &now);
#endif
    if (rc != 0)
        return -1;
    *sec = (int64_t)now.sec + (is_wall_clock(id) ? shift_seconds() : 0);
    *nsec = (long)now.nsec;
    return 0;
}

static int fits(int64_t sec)
{
    if ((time_t)sec == sec)
        return 1;
    errno = EOVERFLOW;
    return 0;
}

int __clock_gettime64(clockid_t id, struct timespec64* out)
{
    int64_t sec;
    long nsec;
    if (read_clock(id, &sec, &nsec) != 0)
        return -1;
    out->sec = sec;
    out->nsec = (int32_t)nsec;
    out->pad = 0;
    return 0;
}

int clock_gettime(clockid_t id, struct timespec* out)
{
    int64_t sec;
    long nsec;
    if (read_clock(id, &sec, &nsec) != 0 || !fits(sec))
        return -1;
    out->tv_sec = (time_t)sec;
    out->tv_nsec = nsec;
    return 0;
}

int64_t __time64(int64_t* out)
{
    int64_t sec;
    long nsec;
    if (read_clock(CLOCK_REALTIME, &sec, &nsec) != 0)
        return -1;
    if (out)
        *out = sec;
    return sec;
}

time_t time(time_t* out)
{
    int64_t sec;
    long nsec;
    if (read_clock(CLOCK_REALTIME, &sec, &nsec) != 0 || !fits(sec))
        return (time_t)-1;
    if (out)
        *out = (time_t)sec;
    return (time_t)sec;
}

int __gettimeofday64(struct timeval64* out, void* zone)
{
    int64_t sec;
    long nsec;
    (void)zone;
    if (read_clock(CLOCK_REALTIME, &sec, &nsec) != 0)
        return -1;
    out->sec = sec;
    out->usec = nsec / 1000;
    return 0;
}

int gettimeofday(struct timeval* out, void* zone)
{
    int64_t sec;
    long nsec;
    (void)zone;
    if (read_clock(CLOCK_REALTIME, &sec, &nsec) != 0 || !fits(sec))
        return -1;
    out->tv_sec = (time_t)sec;
    out->tv_usec = nsec / 1000;
    return 0;
}
