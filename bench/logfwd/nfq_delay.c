// SPDX-License-Identifier: Apache-2.0
/* nfq_delay.c: a long path for the benchmark where the kernel has no netem.
 * Takes the packets that iptables queues to NFQUEUE number QUEUE (the syslog
 * port's, both directions, on loopback), holds each for DELAY_MS in the order
 * they came and then accepts it, so that a connection over loopback sees a
 * round trip of twice DELAY_MS: TCP's acknowledgements wait like the data
 * and the answers do. Only the packets' metadata is copied to user space;
 * verdicts go out in batches (every packet up to the last one due).
 * Usage: nfq_delay QUEUE DELAY_MS READY_FILE; it creates READY_FILE once it
 * listens, runs until SIGTERM or SIGINT, then lets every packet held go and
 * prints to standard error: packets, the most held at once, the latest a
 * packet went (ms past its due time), how many went more than 1 ms late
 * (this tool not scheduled in time on a busy machine) and notifications lost
 * (ENOBUFS). */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>

#define HELD_MAX (1 << 18)      /* packets held at once; the kernel's queue is as long */
#define SOCKET_BUFFER (32 << 20)
#define LATE_NS 1000000         /* a packet let go later than this past its time is counted */

struct held {
    uint32_t id;
    int64_t due_ns;
};

static struct held ring[HELD_MAX];
static size_t first, count;
static int64_t arrived_ns;
static long long packets, most_held, lost, late;
static int64_t latest_ns;
static volatile sig_atomic_t stopping;

static int64_t now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void stop(int signal_number)
{
    (void)signal_number;
    stopping = 1;
}

/* One queued packet: held from the time its notification was read. */
static int on_packet(struct nfq_q_handle* queue, struct nfgenmsg* message, struct nfq_data* data,
                     void* delay)
{
    (void)message;
    struct nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(data);
    if (!header)
        return 0;
    uint32_t id = ntohl(header->packet_id);
    if (count == HELD_MAX) {  /* cannot happen with the kernel's queue as long */
        nfq_set_verdict(queue, id, NF_ACCEPT, 0, NULL);
        return 0;
    }
    ring[(first + count) % HELD_MAX] = (struct held){id, arrived_ns + *(int64_t*)delay};
    ++count;
    ++packets;
    if ((long long)count > most_held)
        most_held = (long long)count;
    return 0;
}

/* Accepts every packet due by now (all of them when all is set) in one verdict. */
static void release(struct nfq_q_handle* queue, int all)
{
    int64_t now = now_ns();
    size_t due = 0;
    while (due < count && (all || ring[(first + due) % HELD_MAX].due_ns <= now)) {
        late += !all && now - ring[(first + due) % HELD_MAX].due_ns > LATE_NS;
        ++due;
    }
    if (due == 0)
        return;
    struct held* last = &ring[(first + due - 1) % HELD_MAX];
    if (!all && now - ring[first].due_ns > latest_ns)
        latest_ns = now - ring[first].due_ns;
    nfq_set_verdict_batch(queue, last->id, NF_ACCEPT);
    first = (first + due) % HELD_MAX;
    count -= due;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s QUEUE DELAY_MS READY_FILE\n", argv[0]);
        return 2;
    }
    int64_t delay_ns = (int64_t)(atof(argv[2]) * 1e6);
    struct nfq_handle* handle = nfq_open();
    struct nfq_q_handle* queue = handle ? nfq_create_queue(handle, (uint16_t)atoi(argv[1]), on_packet, &delay_ns) : NULL;
    if (!queue || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0 ||
        nfq_set_queue_maxlen(queue, HELD_MAX) < 0) {
        fprintf(stderr, "nfq_delay: cannot listen on queue %s\n", argv[1]);
        return 1;
    }
    /* Large segments go as they are, not cut to the MTU first. */
    nfq_set_queue_flags(queue, NFQA_CFG_F_GSO, NFQA_CFG_F_GSO);
    nfnl_rcvbufsiz(nfq_nfnlh(handle), SOCKET_BUFFER);
    int fd = nfq_fd(handle);
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    FILE* ready = fopen(argv[3], "w");
    if (ready)
        fclose(ready);
    static char buffer[1 << 16];
    struct pollfd readable = {.fd = fd, .events = POLLIN};
    while (!stopping) {
        struct timespec wait = {0, 100000000};  /* a look at the stop flag at least this often */
        if (count > 0) {
            int64_t left = ring[first].due_ns - now_ns();
            if (left < 0)
                left = 0;
            if (left < 100000000)
                wait = (struct timespec){0, (long)left};
        }
        if (ppoll(&readable, 1, &wait, NULL) > 0) {
            for (;;) {
                ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got < 0 && errno == ENOBUFS) {
                    ++lost;
                    continue;
                }
                if (got <= 0)
                    break;
                arrived_ns = now_ns();
                nfq_handle_packet(handle, buffer, (int)got);
            }
        }
        release(queue, 0);
    }
    release(queue, 1);
    fprintf(stderr, "nfq_delay: %lld packets, at most %lld held, %lld more than 1 ms late, "
            "the latest %.2f ms, %lld notifications lost\n", packets, most_held, late, latest_ns / 1e6, lost);
    nfq_destroy_queue(queue);
    nfq_close(handle);
    return 0;
}
