// SPDX-License-Identifier: Apache-2.0
// logfwd's settings: the host verbatim, the transport keys checked against
// their ranges. A value out of range ends the run before anything is sent,
// rather than falling back to a default the file did not ask for.
#include "settings.h"

#include <iostream>
#include <string>

#include "tools.h"

namespace {
const char* const SETTINGS_PATH = "/etc/orvane/syslog_settings";
const char* const HOST_KEY = "host";
const char* const PROTOCOL_KEY = "protocol";
const char* const PORT_KEY = "port";
const char* const RATE_KEY = "rate";
const char* const CA_FILE_KEY = "ca_file";
const char* const CERT_FILE_KEY = "cert_file";
const char* const KEY_FILE_KEY = "key_file";
const char* const SYSLOG_TLS_SERVICE = "6514";  // RFC 5425
const long long MAX_UDP_RATE = 1000000000;

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
}  // namespace

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

