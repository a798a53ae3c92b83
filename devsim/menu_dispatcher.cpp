// SPDX-License-Identifier: Apache-2.0
// Menu and settings requests (2000): every request gets exactly one reply
// (2001) with fixed sample content. Values echoed from the request, and the
// FID, are JSON-escaped, so no request can break the reply or add members to
// it; ordinary values give exactly the plain texts.
#include "menu_dispatcher.h"

#include <cstring>
#include <sstream>

#include "devsim_state.h"
#include "devsim_trace.h"
#include "json_escape.h"
#include "json_helper.h"
#include "log_tracer.h"
#include "menu_pages.h"

namespace {
// A text value of the request, at most 49 bytes; empty when absent.
std::string decode_text(const std::string& message, const char* path)
{
    char buffer[50];
    memset(buffer, 0, sizeof buffer);
    json_decodeFromMessage(message.c_str(), path, buffer, nullptr, 49);
    return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
}

void write_menu_reply(std::ostream& reply, const std::string& message, const std::string& ref_id)
{
    int menu_reference = -3;
    json_decodeFromMessage(message.c_str(), "data.menu_reference.reference", nullptr, &menu_reference,
                           49);
    logTracePrint(TRACE_SOURCE, LINE_MENU_REFERENCE, "callback_msgtype_2000", TRACE_NOTICE,
                  "data.menu_reference.reference gives %d\n", menu_reference);
    Json page(JSON_OBJECT);
    bool handled = build_menu_data(page, menu_reference);
    reply << "\",\"sequence_id\":\"menu_entry\",\"success\":" << handled << ",\"ref_id\":\""
          << json_escape(ref_id) << "\",\"data\":" << page.toString() << "}";
}

void write_settings_reply(std::ostream& reply)
{
    reply << "\",\"sequence_id\":\"get_all_settings\",\"success\":true,\"data\":"
          << "{\"parameters\":1,\"temperature_adjustment\":0.100000,"
             "\"automatic_potassium_compensation\":false,\"potassium_compensation_value\":0.400000,"
          << "\"automatic_chloride_compensation\":false,\"chloride_compensation_value\":0.200000,"
             "\"response_time\":12}}";
}

void write_failure_reply(std::ostream& reply, const std::string& sequence_id, const std::string& ref_id)
{
    reply << "\",\"sequence_id\":\"" << json_escape(sequence_id) << "\",\"success\":false,\"ref_id\":\""
          << json_escape(ref_id) << "\",\"data\":{}}";
    logTracePrint(TRACE_SOURCE, LINE_REQUEST_NOT_HANDLED, "callback_msgtype_2000", TRACE_CRITICAL, "sequence_id \"%s\" not handled\n",
                  sequence_id.c_str());
}

// Writes the reply after its leading "fid" piece; returns the handler code.
sbapi_RetVal write_reply(std::ostream& reply, const std::string& message, const std::string& sequence_id,
                         const std::string& ref_id)
{
    if (sequence_id == "menu_entry" || sequence_id == "menu_edit") {
        write_menu_reply(reply, message, ref_id);
    } else if (sequence_id == "get_all_settings") {
        write_settings_reply(reply);
    } else if (sequence_id == "menu_state_ask") {
        reply << "\",\"sequence_id\":\"menu_state_ask\",\"success\":true,\"ref_id\":\"" << json_escape(ref_id)
              << "\",\"data\":{\"reference\":32769}}";
    } else if (sequence_id == "set_lock_status") {
        reply << "\",\"sequence_id\":\"set_lock_status\",\"success\":true,\"ref_id\":\"" << json_escape(ref_id)
              << "\"}";
    } else {
        write_failure_reply(reply, sequence_id, ref_id);
        return HANDLER_NOT_HANDLED;
    }
    return HANDLER_DONE;
}
}  // namespace

// An edit or a lock request changes nothing, and the answers do not depend
// on the registration: the handler keeps and changes no state.
sbapi_RetVal callback_msgtype_2000(const std::string& message)
{
    std::string sequence_id = decode_text(message, "sequence_id");
    std::string ref_id = decode_text(message, "ref_id");
    std::ostringstream reply;
    reply << "{\"fid\":\"" << json_escape(tt.device_fid);
    sbapi_RetVal code = write_reply(reply, message, sequence_id, ref_id);
    sbapi_RetVal sent = sbapi_sendMessage_2001(reply.str());
    return sent != 0 ? sent : code;
}
