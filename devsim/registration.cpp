// SPDX-License-Identifier: Apache-2.0
// Registration handshake: the announcement and withdrawal (1500), the bus's
// verdict (incoming 1500), and the name report (1501) once accepted.
// Inserted values are JSON-escaped, so any FID or name gives a valid body;
// ordinary values give exactly the plain texts.
#include "registration.h"

#include <sstream>

#include "devsim_state.h"
#include "devsim_trace.h"
#include "json_escape.h"
#include "json_helper.h"
#include "log_tracer.h"

// The result tells start-up whether the device can be on the bus at all.
sbapi_RetVal send_msgtype_1500(bool cstate)
{
    std::ostringstream body;
    body << "{\"fid\":\"" << json_escape(tt.device_fid) << "\",\"gw_fid\":\"" << json_escape(tt.controller_fid)
         << "\",\"cstate\":" << (cstate ? 1 : 0) << ",\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}";
    return sbapi_sendMessage_1500(body.str());
}

void send_msgtype_1501(std::string name)
{
    std::ostringstream body;
    body << "{\"fid\":\"" << json_escape(tt.device_fid) << "\",\"name\":\"" << json_escape(name)
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
        tt.device_state = DEVICE_STATE_ACCEPTED;
        // A stop signal that came first must not be undone by the verdict.
        // Checked after the store: the signal handler cannot run in between
        // unseen, since it stores tt.device_state before tt.stop_signal.
        if (tt.stop_signal != 0)
            tt.device_state = DEVICE_STATE_STOPPING;
        logTracePrint(TRACE_SOURCE, LINE_ACCEPTED, "callback_msgtype_1500", TRACE_INFO, "device \"%s\" is accepted\n",
                      tt.device_fid.c_str());
        send_msgtype_1501(tt.device_name);
        return HANDLER_DONE;
    }
    tt.device_state = DEVICE_STATE_STOPPING;
    logTracePrint(TRACE_SOURCE, LINE_REFUSED, "callback_msgtype_1500", TRACE_CRITICAL,
                  "device \"%s\" is not accepted - aborting ..\n", tt.device_fid.c_str());
    return HANDLER_REFUSED;
}
