// SPDX-License-Identifier: Apache-2.0
// json_document.h: turns nested documents, numbers and texts into the value
// texts that Json::add takes.
#pragma once

#include <string>

#include "json_helper.h"

void json_add_element(Json& doc, Json& element);
void json_add_nested(Json& doc, const std::string& key, Json& value);
void json_add_int(Json& doc, const std::string& key, int value);
// value goes between quotes as it is: no escaping. Callers pass only the
// program's own literals (menu_pages.cpp); a value from outside must go
// through json_escape first.
void json_add_string(Json& doc, const std::string& key, const std::string& value);
