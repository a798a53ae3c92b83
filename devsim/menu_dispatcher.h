// SPDX-License-Identifier: Apache-2.0
// menu_dispatcher.h: answers menu and settings requests (2000) with one reply (2001).
#pragma once

#include <string>

#include "sbapi.h"

sbapi_RetVal callback_msgtype_2000(const std::string& message);
