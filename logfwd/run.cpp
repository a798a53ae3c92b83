// SPDX-License-Identifier: Apache-2.0
// One logfwd run: command line, settings (host, protocol, port, rate),
// resolution, the transport (syslog_transport.h), archive pass, log file.
// Unlike a bare main, owners release the address list, the socket and the
// connection on every path, exceptions included.
#include "run.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "archives.h"
#include "line_sender.h"
#include "progress.h"
#include "settings.h"
#include "stop_signals.h"

namespace {

struct command_line {
    std::string log_path;
    bool all = false;
    bool slow = false;
};

struct address_list_releaser {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using address_list = std::unique_ptr<addrinfo, address_list_releaser>;

// Closes the UDP socket or the connection at the end of the run.
struct destination_closer {
    syslog_destination& destination;
    ~destination_closer() { close_transport(destination); }
    destination_closer(const destination_closer&) = delete;
    destination_closer& operator=(const destination_closer&) = delete;
};

// Strictly positional: "all" counts only second, "slow" only third.
command_line read_command_line(int argc, char** argv)
{
    const char* program_name = argc > 0 ? argv[0] : "logfwd";
    if (argc < 2)
        print_usage_and_exit(program_name);
    const std::string first = argv[1];
    if (first == "-h" || first == "--help")
        print_usage_and_exit(program_name);
    command_line args;
    args.log_path = first;
    args.all = argc > 2 && std::string(argv[2]) == "all";
    args.slow = argc > 3 && std::string(argv[3]) == "slow";
    return args;
}

address_list resolve(const syslog_settings& settings)
{
    const bool tcp = settings.transport.protocol != SYSLOG_UDP;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = tcp ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_protocol = tcp ? IPPROTO_TCP : IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(settings.host.c_str(), settings.port.c_str(), &hints, &list) != 0)
        return nullptr;
    return address_list(list);
}

// The UDP socket, or the connection; false (reported) when it cannot be had.
// Nothing has been sent at this point.
bool open_destination(const syslog_settings& settings, const addrinfo* addresses,
                      syslog_destination& destination)
{
    transport_events events;
    const bool opened = open_transport(destination, addresses, settings.transport, events);
    print_transport_events(destination, events);
    return opened;
}

// Connects and sends; the connection is closed (TLS: close_notify) on return.
int connect_and_send(const command_line& args, const syslog_settings& settings,
                     const addrinfo* addresses)
{
    syslog_destination destination;
    destination.host = settings.host;
    destination.port = settings.port;
    const destination_closer closer{destination};
    if (!open_destination(settings, addresses, destination))
        return -1;
    const progress_display display;
    if (args.all)
        forward_archives(args.log_path, destination, args.slow, stop_signal);
    else
        send_log_file(destination, args.log_path, stop_signal);
    return 0;
}

int run(int argc, char** argv)
{
    const command_line args = read_command_line(argc, argv);
    syslog_settings settings;
    if (!read_settings(settings))
        return -1;
    const address_list addresses = resolve(settings);
    if (!addresses) {
        std::cout << "ERROR in getting info for socket opening" << std::endl;
        return -1;
    }
    // From here on a stop signal ends the run between two lines, after the
    // report of the file in hand, and once the connection is closed
    // (stop_signals.h). Not during resolution: the resolver waits on through
    // EINTR, and nothing has been sent yet.
    stop_signal_catcher catcher;
    const int status = connect_and_send(args, settings, addresses.get());
    catcher.end_if_stopped();
    return status;
}
}  // namespace

void print_usage_and_exit(const char* program_name)
{
    std::cout << "Usage: " << program_name << " filename [all] [all slow]" << std::endl;
    std::cout << "\tfilename: path of the file that contains the logs to send" << std::endl;
    std::cout << "\tall: sends also the logs that are in associated archive files" << std::endl;
    std::cout << "\tslow; sleeps 60 seconds between each archive file to be able to read all of "
                 "them in Syslog Watcher"
              << std::endl;
    exit(1);
}

int logfwd_main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::cout << "ERROR: Unexpected exception - " << error.what() << std::endl;
    } catch (...) {
        std::cout << "ERROR: Unknown exception" << std::endl;
    }
    return -1;
}
