// Placeholder message-bus client: accepts every call and delivers nothing.
// Replaced by the MQTT stand-in.
#include "sbapi.h"

sbapi_RetVal sbapi_setCallback_1500(sbapi_Callback) { return 0; }
sbapi_RetVal sbapi_setCallback_2000(sbapi_Callback) { return 0; }
sbapi_RetVal sbapi_doWork() { return 0; }
sbapi_RetVal sbapi_sendMessage_1500(const std::string&) { return 0; }
sbapi_RetVal sbapi_sendMessage_1501(const std::string&) { return 0; }
sbapi_RetVal sbapi_sendMessage_2(const std::string&) { return 0; }
sbapi_RetVal sbapi_sendMessage_3(const std::string&) { return 0; }
sbapi_RetVal sbapi_sendMessage_2001(const std::string&) { return 0; }
