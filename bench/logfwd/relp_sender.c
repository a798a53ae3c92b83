// SPDX-License-Identifier: Apache-2.0
/* relp_sender.c: the yardstick for logfwd's RELP, librelp's own client (Debian's
 * librelp-dev): read a line with getline, hand it to relpCltSendSyslog behind
 * a fixed priority <14>, next line; at the end librelp's close waits for the
 * answer to every command. Built by bench.sh only, never part of logfwd.
 * Usage: relp_sender FILE HOST PORT [WINDOW [CA_FILE]]: WINDOW commands may
 * wait for their answers (0: librelp's default, 128); with CA_FILE, RELP
 * inside TLS (librelp's OpenSSL driver), the server checked against CA_FILE. */
#include <stddef.h>  /* librelp.h uses size_t without it */
#include <librelp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* librelp calls its debug printer unconditionally: one that prints nothing. */
static void quiet(char* format, ...)
{
    (void)format;
}

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 6) {
        fprintf(stderr, "usage: %s FILE HOST PORT [WINDOW [CA_FILE]]\n", argv[0]);
        return 2;
    }
    FILE* in = fopen(argv[1], "r");
    relpEngine_t* engine = NULL;
    relpClt_t* client = NULL;
    if (!in || relpEngineConstruct(&engine) != RELP_RET_OK ||
        relpEngineSetDbgprint(engine, quiet) != RELP_RET_OK ||
        relpEngineSetDnsLookupMode(engine, 0) != RELP_RET_OK ||
        relpEngineSetEnableCmd(engine, (unsigned char*)"syslog", eRelpCmdState_Required) != RELP_RET_OK ||
        (argc == 6 && relpEngineSetTLSLibByName(engine, "openssl") != RELP_RET_OK) ||
        relpEngineCltConstruct(engine, &client) != RELP_RET_OK)
        return 1;
    signal(SIGPIPE, SIG_IGN);  /* a server that hangs up is librelp's to handle */
    if (argc >= 5 && atoi(argv[4]) > 0 && relpCltSetWindowSize(client, atoi(argv[4])) != RELP_RET_OK)
        return 1;
    if (argc == 6 && (relpCltEnableTLS(client) != RELP_RET_OK ||
                      relpCltSetCACert(client, argv[5]) != RELP_RET_OK))
        return 1;
    if (relpCltConnect(client, 0, (unsigned char*)argv[3], (unsigned char*)argv[2]) != RELP_RET_OK) {
        fprintf(stderr, "relp_sender: no session with %s:%s\n", argv[2], argv[3]);
        return 1;
    }
    char* line = NULL;
    size_t capacity = 0;
    ssize_t length;
    char* message = NULL;
    size_t room = 0;
    long sent = 0, failed = 0;
    while ((length = getline(&line, &capacity, in)) != -1) {
        if (length > 0 && line[length - 1] == '\n')
            --length;
        if ((size_t)length + 4 > room) {
            room = (size_t)length + 64;
            message = realloc(message, room);
        }
        memcpy(message, "<14>", 4);
        memcpy(message + 4, line, (size_t)length);
        if (relpCltSendSyslog(client, (unsigned char*)message, (size_t)length + 4) == RELP_RET_OK)
            ++sent;
        else
            ++failed;
    }
    relpEngineCltDestruct(engine, &client);  /* close: waits for the open answers */
    relpEngineDestruct(&engine);
    printf("%ld sent, %ld failed\n", sent, failed);
    free(message);
    free(line);
    fclose(in);
    return failed == 0 ? 0 : 1;
}
