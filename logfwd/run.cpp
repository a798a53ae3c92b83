// One logfwd run: command line, syslog host from the settings file, resolution,
// one UDP socket, archive pass, log file. Unlike a bare main, owners release the
// address list and the socket on every path, exceptions included.
#include "run.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "archives.h"
#include "line_sender.h"
#include "stop_signals.h"
#include "tools.h"

namespace {
const char* const SETTINGS_PATH = "/etc/orvane/syslog_settings";
const char* const SYSLOG_SERVICE = "514";
const char* const HOST_KEY = "host";

struct command_line {
    std::string log_path;
    bool all = false;
    bool slow = false;
};

struct address_list_releaser {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using address_list = std::unique_ptr<addrinfo, address_list_releaser>;

struct socket_holder {
    int fd;
    ~socket_holder()
    {
        if (fd != -1)
            close(fd);
    }
    socket_holder(const socket_holder&) = delete;
    socket_holder& operator=(const socket_holder&) = delete;
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

// The value of "host", verbatim; false (reported) when the file or the key is missing.
bool read_syslog_host(std::string& host)
{
    if (!FileHelper::FileExists(SETTINGS_PATH)) {
        std::cout << "Setting file " << SETTINGS_PATH << " is missing." << std::endl;
        return false;
    }
    ConfigFile settings(SETTINGS_PATH);
    if (!settings.ContainsKey(HOST_KEY)) {
        std::cout << "Impossible to read syslog host from " << SETTINGS_PATH << " file."
                  << std::endl;
        return false;
    }
    host = settings[HOST_KEY];
    return true;
}

address_list resolve(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), SYSLOG_SERVICE, &hints, &list) != 0)
        return nullptr;
    return address_list(list);
}

// The archive pass under its signal policy (stop_signals.h): a signal that
// would end the process ends it only once the archive in hand is compressed
// again. False when an archive could not be compressed again.
bool run_archive_pass(const command_line& args, const syslog_destination& target)
{
    stop_signal_catcher catcher;
    if (!forward_archives(args.log_path, target, args.slow, stop_signal))
        return false;
    catcher.end_if_stopped();
    return true;
}

int run(int argc, char** argv)
{
    const command_line args = read_command_line(argc, argv);
    std::string host;
    if (!read_syslog_host(host))
        return -1;
    const address_list addresses = resolve(host);
    if (!addresses) {
        std::cout << "ERROR in getting info for socket opening" << std::endl;
        return -1;
    }
    const addrinfo* destination = addresses.get();
    const socket_holder sock{socket(destination->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)};
    if (sock.fd == -1) {
        std::cout << "ERROR in opening socket" << std::endl;
        return -1;
    }
    const syslog_destination target{destination, sock.fd};
    if (args.all && !run_archive_pass(args, target))
        return -1;
    send_log_file(target, args.log_path, stop_signal);
    return 0;
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
