// SPDX-License-Identifier: Apache-2.0
// The four adding functions of the menu documents: each turns a nested
// document, a number or a text into the value text that Json::add takes and
// makes exactly one Json::add call. Texts are quoted but not escaped: every
// value passed here is one of the program's own literals.
#include "json_document.h"

#include <cstdio>

void json_add_element(Json& doc, Json& element)
{
    doc.add(element.toString());
}

// The child's text is copied now: later changes to it do not reach doc.
void json_add_nested(Json& doc, const std::string& key, Json& value)
{
    doc.add(key, value.toString());
}

void json_add_int(Json& doc, const std::string& key, int value)
{
    char digits[32];
    snprintf(digits, sizeof digits, "%d", value);
    doc.add(key, std::string(digits));
}

void json_add_string(Json& doc, const std::string& key, const std::string& value)
{
    doc.add(key, "\"" + value + "\"");
}
