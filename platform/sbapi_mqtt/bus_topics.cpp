// SPDX-License-Identifier: Apache-2.0
// Topic names, client id and broker address of the bus stand-in. The FID is
// percent-encoded byte by byte rather than checked as UTF-8: printable ASCII
// stays readable, everything else is unambiguous and always a valid level.
// A broker address that cannot be read is refused whole rather than read in
// part, so that the device never connects to a broker it was not given.
#include "bus_topics.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>

namespace {
const char* const TOPIC_ROOT = "sbapi/";
const char* const DEFAULT_HOST = "127.0.0.1";
const int DEFAULT_PORT = 1883;
const size_t CLIENT_ID_LIMIT = 23;
const char* const LONGEST_DOWN = "/down/2000";

bool keeps_as_is(unsigned char c)
{
    return c >= 0x20 && c <= 0x7e && c != '/' && c != '+' && c != '#' && c != '%';
}

std::string device_root(const std::string& fid)
{
    return TOPIC_ROOT + topic_level(fid);
}

// Whether text is a decimal type number without sign or blanks.
bool is_type_number(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool is_ipv6_address(const std::string& text)
{
    in6_addr address{};
    return inet_pton(AF_INET6, text.substr(0, text.find('%')).c_str(), &address) == 1;
}

bool read_port(const std::string& text, int& port)
{
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), digit))
        return false;
    port = std::atoi(text.c_str());
    return port >= 1 && port <= 65535;
}

// Splits "[HOST]:PORT" or "[HOST]" into host and port text; false when text
// follows the bracket without a colon, or the bracket is not closed.
bool split_bracketed(const std::string& text, std::string& host, std::string& port, bool& has_port)
{
    size_t close = text.find(']');
    if (close == std::string::npos)
        return false;
    host = text.substr(1, close - 1);
    has_port = close + 1 < text.size();
    if (has_port && text[close + 1] != ':')
        return false;
    if (has_port)
        port = text.substr(close + 2);
    return true;
}
}  // namespace

std::string topic_level(const std::string& text)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string level;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (keeps_as_is(c)) {
            level += ch;
        } else {
            level += '%';
            level += HEX[c >> 4];
            level += HEX[c & 0x0f];
        }
    }
    return level;
}

std::string up_topic(const std::string& fid, int type)
{
    return device_root(fid) + "/up/" + std::to_string(type);
}

std::string down_filter(const std::string& fid)
{
    return device_root(fid) + "/down/+";
}

int down_type(const std::string& topic, const std::string& fid)
{
    std::string prefix = device_root(fid) + "/down/";
    if (topic.compare(0, prefix.size(), prefix) != 0)
        return -1;
    std::string type = topic.substr(prefix.size());
    return is_type_number(type) ? std::atoi(type.c_str()) : -1;
}

size_t longest_topic_size(const std::string& fid)
{
    return device_root(fid).size() + std::string(LONGEST_DOWN).size();
}

std::string client_id(const std::string& fid, long pid)
{
    const std::string head = "devsim-";
    const std::string tail = "-" + std::to_string(pid);
    std::string level = topic_level(fid);
    size_t room = CLIENT_ID_LIMIT > head.size() + tail.size() ? CLIENT_ID_LIMIT - head.size() - tail.size() : 0;
    size_t cut = std::min(room, level.size());
    // Every '%' in a level begins an escape of three bytes.
    for (size_t i = cut >= 2 ? cut - 2 : 0; cut < level.size() && i < cut; ++i)
        if (level[i] == '%') {
            cut = i;
            break;
        }
    return head + level.substr(0, cut) + tail;
}

std::optional<broker_endpoint> broker_address(const char* setting, std::string& why)
{
    std::string text = setting ? setting : "";
    std::string host = text, port;
    bool has_port = false;
    size_t colons = std::count(text.begin(), text.end(), ':');
    if (!text.empty() && text[0] == '[') {
        if (!split_bracketed(text, host, port, has_port)) {
            why = "text after the address that is not \":PORT\"";
            return std::nullopt;
        }
    } else if (colons == 1) {
        size_t colon = text.find(':');
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        has_port = true;
    } else if (colons > 1 && !is_ipv6_address(text)) {
        why = "neither HOST:PORT nor an IPv6 address; an IPv6 address with a port is written [ADDRESS]:PORT";
        return std::nullopt;
    }
    broker_endpoint address{host.empty() ? DEFAULT_HOST : host, DEFAULT_PORT};
    if (has_port && !read_port(port, address.port)) {
        why = "the port is not a number from 1 to 65535";
        return std::nullopt;
    }
    return address;
}

std::string endpoint_text(const broker_endpoint& broker)
{
    bool ipv6 = broker.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + broker.host + "]" : broker.host) + ":" + std::to_string(broker.port);
}
