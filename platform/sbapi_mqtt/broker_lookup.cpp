// SPDX-License-Identifier: Apache-2.0
// The broker's name looked up through getaddrinfo(), as any client would,
// except that IPv4 comes first: "localhost" must not turn into ::1 for a
// broker that listens on 127.0.0.1 only.
#include "broker_lookup.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>

bool is_numeric_host(const std::string& host)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    bool numeric = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
    if (found)
        freeaddrinfo(found);
    return numeric;
}

std::string numeric_address(const std::string& host, std::string& error)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        error = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
        return "";
    }
    const addrinfo* pick = found;
    for (const addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            pick = a;
            break;
        }
    char numeric[NI_MAXHOST] = {};
    rc = getnameinfo(pick->ai_addr, pick->ai_addrlen, numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(found);
    if (rc != 0)
        error = gai_strerror(rc);
    return rc == 0 ? numeric : "";
}
