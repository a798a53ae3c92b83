// SPDX-License-Identifier: Apache-2.0
// logfwd's settings: the host, the transport keys checked against their
// ranges. Before the settings library reads the file, logfwd checks it itself
// (whatever that library's line limit): an over-long line or a key that nearly
// spells one of logfwd's ends the run, rather than being silently ignored.
#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"
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
const char* const FRAMING_KEY = "framing";
const char* const SYSLOG_TLS_SERVICE = "6514";  // RFC 5425; RELP keeps 514, as rsyslog's omrelp does

struct protocol_name {
    const char* name;
    syslog_protocol protocol;
};
const protocol_name PROTOCOLS[] = {
    {"udp", SYSLOG_UDP},   {"tcp", SYSLOG_TCP},   {"tls", SYSLOG_TLS},
    {"relp", SYSLOG_RELP}, {"relp-tls", SYSLOG_RELP_TLS},
};
const long long MAX_UDP_RATE = 1000000000;
const size_t LONGEST_LINE = 4096;  // bytes, the newline not counted

// Every key logfwd knows; one that differs from these only in letter case, in
// "-" for "_" or by a few edits (edits_allowed) is refused as a misspelling.
const char* const KNOWN_KEYS[] = {
    HOST_KEY, PROTOCOL_KEY, PORT_KEY, RATE_KEY, CA_FILE_KEY, CERT_FILE_KEY, KEY_FILE_KEY,
    FRAMING_KEY,
};

bool is_blank(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The key of a line as the settings reader sees it: the text before the first
// "=" or ":", trimmed, unless a comment (";" after a blank) comes first. None
// ("") in a blank line, a comment ("#", ";"), a section ("[") or a line
// without "=" or ":". The line ends at a NUL byte, as a C string does.
std::string_view key_of(std::string_view line, bool first_line)
{
    line = trimmed(line.substr(0, line.find('\0')));
    if (first_line && line.substr(0, 3) == "\xEF\xBB\xBF")  // a UTF-8 byte order mark
        line = trimmed(line.substr(3));
    if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[')
        return "";
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' || line[i] == ':')
            return trimmed(line.substr(0, i));
        if (line[i] == ';' && i > 0 && is_blank(line[i - 1]))
            return "";
    }
    return "";
}

// Edits between a and b (a letter added, left out, changed, or two
// neighbouring letters swapped), or 3 when there are more than 2.
size_t edit_distance(const std::string& a, const std::string& b)
{
    if (a.size() > b.size() + 2 || b.size() > a.size() + 2)
        return 3;
    // Three rows of the table: the one before the last, the last, this one.
    std::vector<size_t> older(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
    std::iota(last.begin(), last.end(), 0);
    for (size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            row[j] = std::min({last[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0), row[j - 1] + 1, last[j] + 1});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], older[j - 2] + 1);
        }
        std::swap(older, last);
        std::swap(last, row);
    }
    return std::min<size_t>(last.back(), 3);
}

// Two edits turn half the four-letter words into host, port or rate ("name",
// "date", "post"): short keys allow one, the others two.
size_t edits_allowed(const char* known)
{
    return strlen(known) <= 4 ? 1 : 2;
}

// The known key that key nearly spells (the nearest, the first on a tie), or
// nullptr when key is a known one or near none.
const char* misspelled_key(std::string_view key)
{
    std::string folded(key);
    for (char& c : folded)
        c = c == '-' ? '_' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const char* nearest = nullptr;
    size_t nearest_distance = 3;
    for (const char* known : KNOWN_KEYS) {
        if (key == known)
            return nullptr;
        const size_t distance = edit_distance(folded, known);
        if (distance <= edits_allowed(known) && distance < nearest_distance) {
            nearest = known;
            nearest_distance = distance;
        }
    }
    return nearest;
}

// The refusal of one line, or "".
std::string line_refusal(std::string_view line, long number)
{
    const std::string_view key = key_of(line, number == 1);
    const char* known = key.empty() ? nullptr : misspelled_key(key);
    if (!known)
        return "";
    return "Unknown key \"" + std::string(key) + "\" in " + SETTINGS_PATH + " (did you mean \"" +
           known + "\"?)";
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
    report_invalid_value(key, value, SETTINGS_PATH);
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

// The stream's framing; like rate for the streams, checked also where the
// protocol does not use it (UDP), so that a typo shows before it matters.
bool read_framing(const ConfigFile& file, stream_framing& framing)
{
    if (!file.ContainsKey(FRAMING_KEY))
        return true;
    const std::string value = file[FRAMING_KEY];
    if (value != "octet-counting" && value != "lf")
        return report_invalid(FRAMING_KEY, value);
    framing = value == "lf" ? FRAMING_LF : FRAMING_OCTET_COUNTING;
    return true;
}

// The optional keys; false (reported) for the first value out of its range.
bool read_transport_settings(const ConfigFile& file, syslog_settings& settings)
{
    transport_settings& transport = settings.transport;
    if (file.ContainsKey(PROTOCOL_KEY)) {
        const std::string value = file[PROTOCOL_KEY];
        const protocol_name* protocol = std::find_if(
            std::begin(PROTOCOLS), std::end(PROTOCOLS),
            [&value](const protocol_name& known) { return value == known.name; });
        if (protocol == std::end(PROTOCOLS))
            return report_invalid(PROTOCOL_KEY, value);
        transport.protocol = protocol->protocol;
        if (transport.protocol == SYSLOG_TLS)
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
        transport.rate = number;
    }
    return read_framing(file, transport.framing) &&
           read_path(file, CA_FILE_KEY, transport.tls.ca_file) &&
           read_path(file, CERT_FILE_KEY, transport.tls.cert_file) &&
           read_path(file, KEY_FILE_KEY, transport.tls.key_file);
}

// "[::1]": an IPv6 address in brackets, as URLs write it, is the address inside.
std::string without_brackets(const std::string& host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}
}  // namespace

std::string settings_refusal(std::istream& file)
{
    std::vector<char> line(LONGEST_LINE + 1);
    for (long number = 1; file.getline(line.data(), static_cast<std::streamsize>(line.size())) ||
                          file.gcount() > 0;
         ++number) {
        if (file.fail() && !file.bad())  // the line filled the buffer and goes on
            return "Line " + std::to_string(number) + " of " + SETTINGS_PATH + " is too long";
        const size_t length = static_cast<size_t>(file.gcount()) - (file.eof() ? 0 : 1);
        std::string refusal = line_refusal(std::string_view(line.data(), length), number);
        if (!refusal.empty())
            return refusal;
    }
    return "";
}

bool read_settings(syslog_settings& settings)
{
    if (!FileHelper::FileExists(SETTINGS_PATH)) {
        report_settings_missing(SETTINGS_PATH);
        return false;
    }
    std::ifstream text(SETTINGS_PATH, std::ios::binary);
    const std::string refusal = settings_refusal(text);
    if (!refusal.empty()) {
        report_settings_refused(refusal);
        return false;
    }
    const ConfigFile file(SETTINGS_PATH);
    if (!file.ContainsKey(HOST_KEY)) {
        report_no_host(SETTINGS_PATH);
        return false;
    }
    settings.host = without_brackets(file[HOST_KEY]);
    return read_transport_settings(file, settings);
}

