// SPDX-License-Identifier: Apache-2.0
// json_helper.h: the controller's JSON helper library. The Json value's
// in-line part (fields, construction, toString) lives here; Json::add and
// json_decodeFromMessage live in the library.
#pragma once

#include <string>

const int JSON_OBJECT = 0;
const int JSON_ARRAY = 1;

// A JSON document under construction: an object for kind 0, an array otherwise.
class Json {
public:
    int kind;
    std::string text;

    explicit Json(int kind_) : kind(kind_), text(kind_ == JSON_OBJECT ? "{}" : "[]") {}
    // A document reaches its parent only as a copy of its text.
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;

    std::string toString() { return text; }

    // Appends value (raw JSON text) as the next element of an array.
    void add(std::string value);
    // Appends the member "key": value (raw JSON text) to an object.
    void add(std::string key, std::string value);
};

// Finds the value at path (keys joined by ".") in the JSON text message.
// A string goes to text (at most count characters, always NUL-terminated);
// a number or boolean goes to number (true is 1, false 0; a number with a
// fraction or exponent truncated toward zero, as C converts it, when that
// lies in the int range). Anything missing,
// malformed or of the wrong type leaves both targets untouched.
// Returns 0 when a value was stored, non-zero otherwise.
int json_decodeFromMessage(const char* message, const char* path, char* text, int* number, int count);
