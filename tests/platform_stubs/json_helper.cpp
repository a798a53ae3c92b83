// SPDX-License-Identifier: Apache-2.0
// Link-only stub of the JSON helper library: what json_helper.h declares.
#include "json_helper.h"

void Json::add(std::string) {}
void Json::add(std::string, std::string) {}
int json_decodeFromMessage(const char*, const char*, char*, int*, int) { return -1; }
