// SPDX-License-Identifier: Apache-2.0
// Topic names and the broker address of the bus stand-in. The FID is
// percent-encoded byte by byte rather than checked as UTF-8: printable ASCII
// stays readable, everything else is unambiguous and always a valid level.
#include "bus_topics.h"

#include <cstdlib>

namespace {
const char* const TOPIC_ROOT = "sbapi/";
const char* const DEFAULT_HOST = "127.0.0.1";
const int DEFAULT_PORT = 1883;

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

broker_endpoint broker_address(const char* setting)
{
    broker_endpoint address{DEFAULT_HOST, DEFAULT_PORT};
    std::string text = setting ? setting : "";
    size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    if (!host.empty())
        address.host = host;
    if (colon != std::string::npos) {
        char* end = nullptr;
        long port = std::strtol(text.c_str() + colon + 1, &end, 10);
        if (end != text.c_str() + colon + 1 && *end == '\0' && port >= 1 && port <= 65535)
            address.port = static_cast<int>(port);
    }
    return address;
}
