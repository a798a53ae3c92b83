// SPDX-License-Identifier: Apache-2.0
// JSON helper library stand-in: Json::add and json_decodeFromMessage.
// Decoding uses nlohmann/json without exceptions; nothing escapes to the
// caller, whatever the message holds. Messages nested deeper than
// MAX_NESTING count as malformed: the parser would spend tens of bytes per
// level on a body of brackets (80 MB for one megabyte of them).
#include "json_helper.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace {
const int MAX_NESTING = 512;

// Whether no array or object in message lies deeper than limit; brackets
// inside strings do not count.
bool nesting_within(const char* message, int limit)
{
    int depth = 0;
    bool in_string = false;
    for (const char* p = message; *p; ++p) {
        if (in_string) {
            if (*p == '\\' && p[1])
                ++p;
            else if (*p == '"')
                in_string = false;
        } else if (*p == '"') {
            in_string = true;
        } else if (*p == '[' || *p == '{') {
            if (++depth > limit)
                return false;
        } else if (*p == ']' || *p == '}') {
            --depth;
        }
    }
    return true;
}

// Inserts one member or element before the closing bracket.
void append_item(std::string& text, const std::string& item)
{
    if (text.size() < 2)  // only when a caller has broken the text by hand
        return;
    bool empty = text.size() == 2;
    text.insert(text.size() - 1, empty ? item : "," + item);
}

// Length of the longest prefix of at most limit bytes that does not end
// inside a UTF-8 sequence (the text is valid UTF-8: nlohmann checked it).
size_t utf8_prefix(const std::string& text, size_t limit)
{
    if (text.size() <= limit)
        return text.size();
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return end;
}

const nlohmann::json* find_path(const nlohmann::json& root, const char* path)
{
    const nlohmann::json* node = &root;
    const char* start = path;
    for (;;) {
        const char* dot = strchr(start, '.');
        std::string key = dot ? std::string(start, dot) : std::string(start);
        if (!node->is_object())
            return nullptr;
        auto member = node->find(key);
        if (member == node->end())
            return nullptr;
        node = &*member;
        if (!dot)
            return node;
        start = dot + 1;
    }
}

bool store_number(const nlohmann::json& value, int* number)
{
    if (!number)
        return false;
    if (value.is_boolean()) {
        *number = value.get<bool>() ? 1 : 0;
        return true;
    }
    if (value.is_number_unsigned()) {
        auto n = value.get<unsigned long long>();
        if (n > static_cast<unsigned long long>(INT_MAX))
            return false;
        *number = static_cast<int>(n);
        return true;
    }
    if (value.is_number_integer()) {
        auto n = value.get<long long>();
        if (n < INT_MIN || n > INT_MAX)
            return false;
        *number = static_cast<int>(n);
        return true;
    }
    if (value.is_number_float()) {
        // As C's conversion would: toward zero, within the int range only.
        double n = std::trunc(value.get<double>());
        if (!(n >= INT_MIN && n <= INT_MAX))
            return false;
        *number = static_cast<int>(n);
        return true;
    }
    return false;
}

bool store_text(const nlohmann::json& value, char* text, int count)
{
    if (!text || !value.is_string() || count < 0)
        return false;
    const auto& s = value.get_ref<const std::string&>();
    size_t n = utf8_prefix(s, static_cast<size_t>(count));
    memcpy(text, s.data(), n);
    text[n] = '\0';
    return true;
}
}  // namespace

void Json::add(std::string value)
{
    append_item(text, value);
}

void Json::add(std::string key, std::string value)
{
    // Keys are the program's own literals; replace() only guards against bytes
    // that are not UTF-8, which would make dump() throw.
    append_item(text, nlohmann::json(key).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                          ":" + value);
}

int json_decodeFromMessage(const char* message, const char* path, char* text, int* number, int count)
{
    if (!message || !path || !nesting_within(message, MAX_NESTING))
        return -1;
    nlohmann::json root = nlohmann::json::parse(message, nullptr, false);
    if (root.is_discarded())
        return -1;
    const nlohmann::json* value = find_path(root, path);
    if (!value)
        return -1;
    if (store_text(*value, text, count) || store_number(*value, number))
        return 0;
    return -1;
}
