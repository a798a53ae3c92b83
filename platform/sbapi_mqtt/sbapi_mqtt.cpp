// Message-bus client stand-in over MQTT: the device is the "fid" of its first
// message, and types map to sbapi/<fid>/up|down/<type>. Handlers run inside
// sbapi_doWork but outside the MQTT library's callbacks, so they may send freely.
#include "sbapi.h"

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

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

// The "fid" member of the device's first message (its announcement).
bool read_fid(const std::string& body, std::string& fid)
{
    const nlohmann::json message = nlohmann::json::parse(body, nullptr, false);
    if (!message.is_object() || !message.contains("fid") || !message["fid"].is_string())
        return false;
    fid = message["fid"].get_ref<const std::string&>();
    return true;
}

bool identify(int type, const std::string& body)
{
    if (identified)
        return true;
    if (!read_fid(body, bus_fid)) {
        BUS_TRACE(3, "message %d names no \"fid\", so the device has no topic yet; not sent\n", type);
        return false;
    }
    identified = true;
    link_open(broker_address(std::getenv("SBAPI_BROKER")), down_filter(bus_fid));
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

void deliver(const Arrived& message)
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
sbapi_RetVal sbapi_doWork()
{
    for (const Arrived& message : link_receive())
        deliver(message);
    link_finish_pass();  // replies leave in the pass that read their requests
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
