// SPDX-License-Identifier: Apache-2.0
// bus_topics.h: how the bus stand-in names things on the broker: the topics
// of one device (sbapi/<fid>/up/<type>, sbapi/<fid>/down/<type>) and the
// broker's address. Pure functions, so that tests pin them without a broker.
#pragma once

#include <string>

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

struct broker_endpoint {
    std::string host;
    int port;
};
// "host" or "host:port" (SBAPI_BROKER); null or empty gives 127.0.0.1:1883.
// A port that is not a number from 1 to 65535 leaves 1883.
broker_endpoint broker_address(const char* setting);
