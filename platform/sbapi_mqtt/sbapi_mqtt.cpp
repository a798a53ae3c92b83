// SPDX-License-Identifier: Apache-2.0
// Message-bus client stand-in over MQTT: the device is the "fid" of its first
// message, and types map to sbapi/<fid>/up|down/<type>. Handlers run inside
// sbapi_doWork on the caller's thread, never on the link's, so they may send
// freely. A FID that cannot be a topic refuses the first message outright.
#include "sbapi.h"

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "bus_topics.h"
#include "log_tracer.h"
#include "mqtt_link.h"
#include "sbapi_mqtt_testing.h"

#define BUS_TRACE(level, ...) logTracePrint("sbapi_mqtt", __LINE__, __func__, level, __VA_ARGS__)

namespace {
const sbapi_RetVal NOT_QUEUED = 1;

std::map<int, sbapi_Callback> handlers;
std::string bus_fid;
bool identified = false;

bool continues(const std::string& text, size_t i)
{
    return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at i (RFC 3629); 0 when there is none.
size_t utf8_sequence_at(const std::string& text, size_t i)
{
    auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length <= 1)
        return length;
    auto second = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    for (size_t k = 1; k < length; ++k)
        if (!continues(text, i + k))
            return 0;
    return length;
}

// text with each byte that is not part of valid UTF-8 read as the Latin-1
// character of that value: the FID that devsim's escaped form (\u00XX) of
// the same bytes names.
std::string as_utf8(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8_sequence_at(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        auto byte = static_cast<unsigned char>(text[i++]);
        out += static_cast<char>(0xC0 | byte >> 6);
        out += static_cast<char>(0x80 | (byte & 0x3F));
    }
    return out;
}

// The "fid" member of the device's first message (its announcement),
// whatever bytes the body holds.
bool read_fid(const std::string& body, std::string& fid)
{
    nlohmann::json message = nlohmann::json::parse(body, nullptr, false);
    if (message.is_discarded())
        message = nlohmann::json::parse(as_utf8(body), nullptr, false);
    if (!message.is_object() || !message.contains("fid") || !message["fid"].is_string())
        return false;
    fid = message["fid"].get_ref<const std::string&>();
    return true;
}

// SBAPI_BROKER, or none when it cannot be read: rather nowhere than elsewhere.
std::optional<broker_endpoint> configured_broker()
{
    const char* setting = std::getenv("SBAPI_BROKER");
    std::string why;
    std::optional<broker_endpoint> broker = broker_address(setting, why);
    if (!broker)
        BUS_TRACE(2, "invalid broker address \"%s\" in SBAPI_BROKER: %s; connecting nowhere\n", setting,
                  why.c_str());
    return broker;
}

bool identify(int type, const std::string& body)
{
    if (identified)
        return true;
    std::string fid;
    if (!read_fid(body, fid)) {
        BUS_TRACE(3, "message %d names no \"fid\", so the device has no topic yet; not sent\n", type);
        return false;
    }
    if (longest_topic_size(fid) > TOPIC_LIMIT) {
        BUS_TRACE(2, "FID of %zu bytes gives topics of up to %zu bytes, over MQTT's %zu; message %d not sent\n",
                  fid.size(), longest_topic_size(fid), TOPIC_LIMIT, type);
        return false;
    }
    bus_fid = fid;
    identified = true;
    link_open({configured_broker(), down_filter(bus_fid), client_id(bus_fid, getpid()), bus_fid});
    return true;
}

sbapi_RetVal send_message(int type, const std::string& body)
{
    if (!identify(type, body))
        return NOT_QUEUED;
    if (!link_send(up_topic(bus_fid, type), body)) {
        BUS_TRACE(3, "message %d cannot be queued; not sent\n", type);
        return NOT_QUEUED;
    }
    return 0;
}

sbapi_RetVal set_handler(int type, sbapi_Callback handler)
{
    if (handler)
        handlers[type] = handler;
    else
        handlers.erase(type);
    return 0;
}

void deliver(const arrived_message& message)
{
    int type = down_type(message.topic, bus_fid);
    auto handler = handlers.find(type);
    if (type < 0 || handler == handlers.end()) {
        BUS_TRACE(4, "no handler for %s; message dropped\n", message.topic.c_str());
        return;
    }
    sbapi_RetVal rc = handler->second(message.payload);
    if (rc != 0)
        BUS_TRACE(7, "handler of message %d returned %d\n", type, rc);
}
}  // namespace

sbapi_RetVal sbapi_setCallback_1500(sbapi_Callback handler)
{
    return set_handler(1500, handler);
}

sbapi_RetVal sbapi_setCallback_2000(sbapi_Callback handler)
{
    return set_handler(2000, handler);
}

// Whatever has arrived by now, not one message per call; waits for nothing.
// The replies that the handlers send leave at once, on the link's thread.
sbapi_RetVal sbapi_doWork()
{
    for (const arrived_message& message : link_receive())
        deliver(message);
    return 0;
}

sbapi_RetVal sbapi_sendMessage_1500(const std::string& body)
{
    return send_message(1500, body);
}

sbapi_RetVal sbapi_sendMessage_1501(const std::string& body)
{
    return send_message(1501, body);
}

sbapi_RetVal sbapi_sendMessage_2(const std::string& body)
{
    return send_message(2, body);
}

sbapi_RetVal sbapi_sendMessage_3(const std::string& body)
{
    return send_message(3, body);
}

sbapi_RetVal sbapi_sendMessage_2001(const std::string& body)
{
    return send_message(2001, body);
}

void sbapi_mqtt_reset()
{
    link_close();
    handlers.clear();
    bus_fid.clear();
    identified = false;
}
