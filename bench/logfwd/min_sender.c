// SPDX-License-Identifier: Apache-2.0
/* min_sender.c: the yardstick for logfwd's speed, the least a line sender can
 * do: read a line with getline, send it as it is with one sendto, next line.
 * Usage: min_sender FILE HOST PORT */
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s FILE HOST PORT\n", argv[0]);
        return 2;
    }
    struct addrinfo hints = {.ai_family = AF_UNSPEC, .ai_socktype = SOCK_DGRAM};
    struct addrinfo* to = NULL;
    FILE* in = fopen(argv[1], "r");
    if (!in || getaddrinfo(argv[2], argv[3], &hints, &to) != 0)
        return 1;
    int fd = socket(to->ai_family, SOCK_DGRAM, 0);
    char* line = NULL;
    size_t capacity = 0;
    ssize_t length;
    long sent = 0;
    while ((length = getline(&line, &capacity, in)) != -1) {
        if (length > 0 && line[length - 1] == '\n')
            --length;
        if (sendto(fd, line, (size_t)length, 0, to->ai_addr, to->ai_addrlen) != -1)
            ++sent;
    }
    printf("%ld\n", sent);
    free(line);
    fclose(in);
    close(fd);
    freeaddrinfo(to);
    return 0;
}
