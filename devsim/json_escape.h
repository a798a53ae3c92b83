// json_escape.h: the one escaper for values that the device writes into JSON strings.
#pragma once

#include <string>

// value as JSON string content: '"', '\' and control characters below 0x20
// escaped; every other byte unchanged.
std::string json_escape(const std::string& value);
