// SPDX-License-Identifier: Apache-2.0
// One logfwd run: command line, settings (host, protocol, port, rate),
// resolution, the transport, archive pass, log file. Owners release the
// address list and the transport on every path, exceptions included; the
// transport's events are printed as they come.
#include "run.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "archive_pass.h"
#include "line_sender.h"
#include "progress.h"
#include "report.h"
#include "settings.h"
#include "stop_signals.h"
#include "syslog_transport.h"

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

// The host's addresses for the protocol, in the resolver's order; empty
// (reported, with the resolver's reason) when it does not resolve.
address_list resolve(const syslog_settings& settings)
{
    const bool stream = settings.transport.protocol != SYSLOG_UDP;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_protocol = stream ? IPPROTO_TCP : IPPROTO_UDP;
    addrinfo* list = nullptr;
    const int error = getaddrinfo(settings.host.c_str(), settings.port.c_str(), &hints, &list);
    if (error != 0) {
        report_unresolved(settings.host, gai_strerror(error));
        return nullptr;
    }
    return address_list(list);
}

// Connects and sends; the transport is closed (TLS: close_notify) on return.
int connect_and_send(const command_line& args, const syslog_settings& settings,
                     const addrinfo* addresses)
{
    const std::string& host = settings.host;
    const std::string& port = settings.port;
    const transport_handle transport = open_transport(
        addresses, host, settings.transport,
        [&host, &port](const transport_event& event) { report_transport_event(host, port, event); });
    if (!transport)
        return -1;
    const progress_display display;
    if (args.all)
        forward_archives(args.log_path, *transport, args.slow);
    else
        send_log_file(*transport, args.log_path);
    return 0;
}

int run(int argc, char** argv)
{
    const command_line args = read_command_line(argc, argv);
    syslog_settings settings;
    if (!read_settings(settings))
        return -1;
    const address_list addresses = resolve(settings);
    if (!addresses)
        return -1;
    // From here on a stop signal ends the run between two lines, after the
    // report of the file in hand, and once the connection is closed. Not
    // during resolution: the resolver waits on through EINTR, and nothing has
    // been sent yet.
    const stop_signal_catcher catcher;
    const int status = connect_and_send(args, settings, addresses.get());
    if (stop_requested()) {
        // Still caught here: on a closed standard output this line fails
        // quietly, and the process ends by the signal that came.
        report_stopped(stop_signal_number());
        end_by_signal(stop_signal_number());
    }
    return status;
}
}  // namespace

void print_usage_and_exit(const char* program_name)
{
    report_usage(program_name);
    exit(1);
}

int logfwd_main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        report_exception(error.what());
    } catch (...) {
        report_exception(nullptr);
    }
    return -1;
}
