// SPDX-License-Identifier: Apache-2.0
// One logfwd run: command line, settings (host, protocol, port, rate),
// resolution, one UDP socket or one TCP connection, archive pass, log file.
// Unlike a bare main, owners release the address list, the socket and the
// connection on every path, exceptions included.
#include "run.h"

#include <cstdlib>
#include <cstring>
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
const char* const PROTOCOL_KEY = "protocol";
const char* const PORT_KEY = "port";
const char* const RATE_KEY = "rate";
const char* const CA_FILE_KEY = "ca_file";
const char* const CERT_FILE_KEY = "cert_file";
const char* const KEY_FILE_KEY = "key_file";
const char* const SYSLOG_TLS_SERVICE = "6514";  // RFC 5425
// Lines per second of UDP unless the settings say otherwise. A default rsyslog
// (imudp, 256 queued datagrams) must not stall longer than 25 ms at this rate;
// why 10,000 and what it still loses on a loaded machine: bench/README.md.
const long long DEFAULT_UDP_RATE = 10000;
const long long MAX_UDP_RATE = 1000000000;

struct syslog_settings {
    std::string host;
    syslog_protocol protocol = SYSLOG_UDP;
    std::string port = SYSLOG_SERVICE;
    long long rate = DEFAULT_UDP_RATE;
    tls_settings tls;
};

struct command_line {
    std::string log_path;
    bool all = false;
    bool slow = false;
};

struct address_list_releaser {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using address_list = std::unique_ptr<addrinfo, address_list_releaser>;

// Closes the UDP socket or the TCP connection at the end of the run.
struct destination_closer {
    syslog_destination& destination;
    ~destination_closer()
    {
        if (destination.socket_fd != -1)
            close(destination.socket_fd);
        close_stream(destination.stream);
    }
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

// A decimal number from min to max, digits only (the reader trims blanks).
bool read_decimal(const std::string& text, long long min, long long max, long long& value)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return value >= min && value <= max;
}

bool report_invalid(const char* key, const std::string& value)
{
    std::cout << "Invalid value \"" << value << "\" for " << key << " in " << SETTINGS_PATH
              << std::endl;
    return false;
}

// A file path of the TLS keys, when present; an empty one is invalid.
bool read_path(const ConfigFile& file, const char* key, std::string& path)
{
    if (!file.ContainsKey(key))
        return true;
    path = file[key];
    return path.empty() ? report_invalid(key, path) : true;
}

// The optional keys; false (reported) for the first value out of its range.
bool read_transport_settings(const ConfigFile& file, syslog_settings& settings)
{
    if (file.ContainsKey(PROTOCOL_KEY)) {
        const std::string protocol = file[PROTOCOL_KEY];
        if (protocol != "udp" && protocol != "tcp" && protocol != "tls")
            return report_invalid(PROTOCOL_KEY, protocol);
        settings.protocol = protocol == "tcp" ? SYSLOG_TCP : protocol == "tls" ? SYSLOG_TLS : SYSLOG_UDP;
        if (settings.protocol == SYSLOG_TLS)
            settings.port = SYSLOG_TLS_SERVICE;
    }
    long long number = 0;
    if (file.ContainsKey(PORT_KEY)) {
        const std::string port = file[PORT_KEY];
        if (!read_decimal(port, 1, 65535, number))
            return report_invalid(PORT_KEY, port);
        settings.port = std::to_string(number);
    }
    if (file.ContainsKey(RATE_KEY)) {
        const std::string rate = file[RATE_KEY];
        if (!read_decimal(rate, 0, MAX_UDP_RATE, number))
            return report_invalid(RATE_KEY, rate);
        settings.rate = number;
    }
    return read_path(file, CA_FILE_KEY, settings.tls.ca_file) &&
           read_path(file, CERT_FILE_KEY, settings.tls.cert_file) &&
           read_path(file, KEY_FILE_KEY, settings.tls.key_file);
}

// The value of "host", verbatim, and the transport keys; false (reported)
// when the file or the host is missing or a value is invalid.
bool read_settings(syslog_settings& settings)
{
    if (!FileHelper::FileExists(SETTINGS_PATH)) {
        std::cout << "Setting file " << SETTINGS_PATH << " is missing." << std::endl;
        return false;
    }
    const ConfigFile file(SETTINGS_PATH);
    if (!file.ContainsKey(HOST_KEY)) {
        std::cout << "Impossible to read syslog host from " << SETTINGS_PATH << " file."
                  << std::endl;
        return false;
    }
    settings.host = file[HOST_KEY];
    return read_transport_settings(file, settings);
}

address_list resolve(const syslog_settings& settings)
{
    const bool tcp = settings.protocol != SYSLOG_UDP;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = tcp ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_protocol = tcp ? IPPROTO_TCP : IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(settings.host.c_str(), settings.port.c_str(), &hints, &list) != 0)
        return nullptr;
    return address_list(list);
}

// The archive pass under its signal policy (stop_signals.h): a signal that
// would end the process ends it only once the archive in hand is compressed
// again. False when an archive could not be compressed again.
bool run_archive_pass(const command_line& args, syslog_destination& destination)
{
    stop_signal_catcher catcher;
    if (!forward_archives(args.log_path, destination, args.slow, stop_signal))
        return false;
    catcher.end_if_stopped();
    return true;
}

// The UDP socket, or the TCP connection, to the first address; false
// (reported) when it cannot be had. Nothing has been sent at this point.
bool open_destination(const syslog_settings& settings, syslog_destination& destination)
{
    if (destination.protocol != SYSLOG_UDP) {
        tcp_link& stream = destination.stream;
        stream = make_tcp_link(destination.address, settings.host, settings.port);
        if (destination.protocol == SYSLOG_TLS) {
            std::string error;
            stream.trust = make_tls_context(settings.tls, error);
            if (!stream.trust) {
                print_tls_error(stream, error);
                return false;
            }
        }
        const int error = connect_stream(stream);
        if (!stream.tls_error.empty())
            print_tls_error(stream, stream.tls_error);
        else if (error != 0)
            std::cout << "ERROR in connecting to " << settings.host << " port " << settings.port
                      << ": " << strerror(error) << std::endl;
        return error == 0;
    }
    destination.socket_fd =
        socket(destination.address->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (destination.socket_fd == -1)
        std::cout << "ERROR in opening socket" << std::endl;
    destination.pacer = make_udp_pacer(settings.rate);
    return destination.socket_fd != -1;
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
    syslog_destination destination;
    destination.address = addresses.get();
    destination.protocol = settings.protocol;
    const destination_closer closer{destination};
    if (!open_destination(settings, destination))
        return -1;
    if (args.all && !run_archive_pass(args, destination))
        return -1;
    send_log_file(destination, args.log_path, stop_signal);
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
