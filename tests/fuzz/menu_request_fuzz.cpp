// SPDX-License-Identifier: Apache-2.0
// menu_request_fuzz.cpp: callback_msgtype_2000 on any request body, delivered
// through the recording bus. Every request must give exactly one 2001 reply
// that is one JSON document carrying the device's FID; the run is repeated
// with a FID that needs escaping, so no value can break the reply's quoting.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "devsim_state.h"
#include "fuzz_check.h"
#include "menu_dispatcher.h"
#include "recording_platform.h"

namespace {
void check_reply(const std::string& request, const std::string& fid)
{
    recording::reset();
    tt.device_fid = fid;
    sbapi_setCallback_2000(callback_msgtype_2000);
    sbapi_RetVal code = recording::deliver(2000, request);
    FUZZ_CHECK(recording::sent.size() == 1, "%zu messages sent", recording::sent.size());
    const recording::sent_message& reply = recording::sent[0];
    FUZZ_CHECK(reply.type == 2001, "reply of type %d", reply.type);
    FUZZ_CHECK(nlohmann::json::accept(reply.body), "reply is no JSON: %s", reply.body.c_str());
    nlohmann::json parsed = nlohmann::json::parse(reply.body, nullptr, false);
    FUZZ_CHECK(parsed.is_object() && parsed.contains("fid") && parsed.at("fid") == fid, "fid lost: %s",
               reply.body.c_str());
    // 6 exactly for the failure reply, the only one with "success" false.
    bool failed = parsed.contains("success") && parsed.at("success") == false;
    FUZZ_CHECK(code == (failed ? 6 : 0), "handler code %d for %s", code, reply.body.c_str());
}
}  // namespace

// Input: the body of a 2000 message.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string request(reinterpret_cast<const char*>(data), size);
    check_reply(request, "DEVFID");
    check_reply(request, "dev\"fid\\\n");
    return 0;
}
