// json_document.h: turns nested documents, numbers and texts into the value
// texts that Json::add takes.
#pragma once

#include <string>

#include "json_helper.h"

void json_add_element(Json& doc, Json& element);
void json_add_nested(Json& doc, const std::string& key, Json& value);
void json_add_int(Json& doc, const std::string& key, int value);
void json_add_string(Json& doc, const std::string& key, const std::string& value);
