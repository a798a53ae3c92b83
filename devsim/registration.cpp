// Registration handshake: the announcement and withdrawal (1500), the bus's
// verdict (incoming 1500), and the name report (1501) once accepted.
// Inserted values are JSON-escaped, so any FID or name gives a valid body;
// ordinary values give exactly the plain texts.
#include "registration.h"

#include <sstream>

#include "devsim.h"
#include "json_escape.h"
#include "json_helper.h"
#include "log_tracer.h"

void send_msgtype_1500(bool cstate)
{
    std::ostringstream body;
    body << "{\"fid\":\"" << json_escape(device_fid) << "\",\"gw_fid\":\"" << json_escape(controller_fid)
         << "\",\"cstate\":" << (cstate ? 1 : 0) << ",\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}";
    sbapi_sendMessage_1500(body.str());
}

void send_msgtype_1501(std::string name)
{
    std::ostringstream body;
    body << "{\"fid\":\"" << json_escape(device_fid) << "\",\"name\":\"" << json_escape(name)
         << "\",\"data\":[]}";
    sbapi_sendMessage_1501(body.str());
}

// Any later verdict counts too: a second acceptance reports the name again,
// a refusal stops the device whatever its state. Only a stop signal outranks
// an acceptance.
sbapi_RetVal callback_msgtype_1500(const std::string& message)
{
    int valid = 0;
    json_decodeFromMessage(message.c_str(), "valid", nullptr, &valid, 0);
    if (valid != 0) {
        device_state = DEVICE_STATE_ACCEPTED;
        // A stop signal that came first must not be undone by the verdict.
        // Checked after the store: the signal handler cannot run in between
        // unseen, since it stores device_state before stop_signal.
        if (stop_signal != 0)
            device_state = DEVICE_STATE_STOPPING;
        logTracePrint("devsim_main", 421, "callback_msgtype_1500", 6, "device \"%s\" is accepted\n",
                      device_fid.c_str());
        send_msgtype_1501(device_name);
        return 0;
    }
    device_state = DEVICE_STATE_STOPPING;
    logTracePrint("devsim_main", 427, "callback_msgtype_1500", 2,
                  "device \"%s\" is not accepted - aborting ..\n", device_fid.c_str());
    return 4;
}
