// SPDX-License-Identifier: Apache-2.0
// sbapi.h: the controller's message-bus client library, as devsim calls it.
// Handlers run on the thread that calls sbapi_doWork, during that call, and
// may send from inside. Results: 0 is success; other values are failures.
#pragma once

#include <string>

typedef int sbapi_RetVal;

// A handler gets the incoming message body: one complete JSON text.
typedef sbapi_RetVal (*sbapi_Callback)(const std::string& message);

sbapi_RetVal sbapi_setCallback_1500(sbapi_Callback handler);
sbapi_RetVal sbapi_setCallback_2000(sbapi_Callback handler);

// Delivers every message that has arrived by now to its handler, then returns.
sbapi_RetVal sbapi_doWork();

// A send fails only when the message can never go out (a device that cannot
// be on the bus, a body too large for it); a broker that is away is no
// failure: the message waits for it. devsim ends when its announcement fails.
sbapi_RetVal sbapi_sendMessage_1500(const std::string& body);
sbapi_RetVal sbapi_sendMessage_1501(const std::string& body);
sbapi_RetVal sbapi_sendMessage_2(const std::string& body);
sbapi_RetVal sbapi_sendMessage_3(const std::string& body);
sbapi_RetVal sbapi_sendMessage_2001(const std::string& body);
