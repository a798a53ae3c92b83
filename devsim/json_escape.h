// SPDX-License-Identifier: Apache-2.0
// json_escape.h: the one escaper for values that the device writes into JSON strings.
#pragma once

#include <string>

// value as JSON string content: '"', '\' and control characters below 0x20
// escaped, each byte that is not part of valid UTF-8 written \u00XX; valid
// UTF-8 and every other byte unchanged.
std::string json_escape(const std::string& value);
