// SPDX-License-Identifier: Apache-2.0
// Link-only stub of the bus library: what sbapi.h declares, and nothing more.
#include "sbapi.h"

sbapi_RetVal sbapi_setCallback_1500(sbapi_Callback) { return -1; }
sbapi_RetVal sbapi_setCallback_2000(sbapi_Callback) { return -1; }
sbapi_RetVal sbapi_doWork() { return -1; }
sbapi_RetVal sbapi_sendMessage_1500(const std::string&) { return -1; }
sbapi_RetVal sbapi_sendMessage_1501(const std::string&) { return -1; }
sbapi_RetVal sbapi_sendMessage_2(const std::string&) { return -1; }
sbapi_RetVal sbapi_sendMessage_3(const std::string&) { return -1; }
sbapi_RetVal sbapi_sendMessage_2001(const std::string&) { return -1; }
