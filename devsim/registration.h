// SPDX-License-Identifier: Apache-2.0
// registration.h: the announcement (1500), the bus's verdict, the name report (1501).
#pragma once

#include <string>

#include "sbapi.h"

sbapi_RetVal send_msgtype_1500(bool cstate);
void send_msgtype_1501(std::string name);
sbapi_RetVal callback_msgtype_1500(const std::string& message);
