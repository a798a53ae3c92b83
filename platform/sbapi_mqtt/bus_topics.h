// SPDX-License-Identifier: Apache-2.0
// bus_topics.h: how the bus stand-in names things on the broker: the topics
// of one device (sbapi/<fid>/up/<type>, sbapi/<fid>/down/<type>), its MQTT
// client id and the broker's address. Pure functions, so that tests pin them
// without a broker.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The longest topic MQTT can carry (its length is a 16-bit field).
const size_t TOPIC_LIMIT = 65535;

// One topic level holding text: '/', '+', '#', '%' and every byte outside
// printable ASCII (NUL and the other controls, which MQTT forbids, and the
// bytes of non-ASCII characters, which might not be valid UTF-8) become %XX,
// so any FID gives a valid level.
std::string topic_level(const std::string& text);

std::string up_topic(const std::string& fid, int type);
// The filter that catches every message for the device: sbapi/<fid>/down/+.
std::string down_filter(const std::string& fid);
// The type of a message that arrived on topic for the device, or -1 when the
// topic is not sbapi/<fid>/down/<decimal type>.
int down_type(const std::string& topic, const std::string& fid);
// The size of the longest topic the device uses: a four-digit type, down.
size_t longest_topic_size(const std::string& fid);

// "devsim-<fid>-<pid>" in at most 23 bytes, the length every MQTT 3.1.1
// broker must take: the FID as its topic level, cut short (never inside a
// %XX) where it does not fit; the process id keeps two devices of one FID
// apart.
std::string client_id(const std::string& fid, long pid);

struct broker_endpoint {
    std::string host;
    int port;
};
// SBAPI_BROKER: "HOST", "HOST:PORT", "[IPV6]", "[IPV6]:PORT" or a bare IPv6
// address; null or empty gives 127.0.0.1:1883, a missing host 127.0.0.1, a
// missing port 1883. Anything else (a port that is not 1 to 65535, text
// after the port or the bracket) gives no endpoint, and why in why.
std::optional<broker_endpoint> broker_address(const char* setting, std::string& why);
// host:port, or [host]:port for an IPv6 address.
std::string endpoint_text(const broker_endpoint& broker);
