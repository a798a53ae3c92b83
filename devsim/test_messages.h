// SPDX-License-Identifier: Apache-2.0
// test_messages.h: the periodic status (2) and measurement (3) messages.
#pragma once

#include <string>

std::string current_time_stamp();
void send_msgtype_2();
void send_msgtype_3();
// The measurement value for one draw of random(): between 1.4 and 2.
double measurement_value(long draw);
