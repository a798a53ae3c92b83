// SPDX-License-Identifier: Apache-2.0
/* udp_counter.c: the loopback sink of the benchmark. Counts the datagrams
 * that reach 127.0.0.1:PORT, in batches (recvmmsg) to keep up with the
 * senders, and prints the count once none has come for IDLE_MS after the first.
 * Usage: udp_counter PORT READY_FILE */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#define BATCH 256
#define IDLE_MS 1500

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int size = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    struct sockaddr_in me = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(argv[1]))};
    me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr*)&me, sizeof me) != 0)
        return 1;
    fclose(fopen(argv[2], "w"));
    static char buffers[BATCH][2048];
    struct mmsghdr messages[BATCH];
    struct iovec vectors[BATCH];
    for (int i = 0; i < BATCH; ++i) {
        vectors[i] = (struct iovec){buffers[i], sizeof buffers[i]};
        messages[i] = (struct mmsghdr){.msg_hdr = {.msg_iov = &vectors[i], .msg_iovlen = 1}};
    }
    long count = 0;
    struct pollfd waiting = {.fd = fd, .events = POLLIN};
    while (poll(&waiting, 1, count == 0 ? -1 : IDLE_MS) > 0) {
        int n = recvmmsg(fd, messages, BATCH, MSG_DONTWAIT, NULL);
        if (n > 0)
            count += n;
    }
    printf("%ld\n", count);
    return 0;
}
