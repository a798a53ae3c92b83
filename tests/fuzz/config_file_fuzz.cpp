// SPDX-License-Identifier: Apache-2.0
// config_file_fuzz.cpp: ConfigFile on any file content, followed by one
// "key = value" line built from the input; that key must come back with its
// value trimmed. The line stays within the reader's 200-byte line limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz_check.h"
#include "fuzz_temp_file.h"
#include "tools.h"

namespace {
const size_t LONGEST_LINE = 150;

bool is_key_char(char c)
{
    return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
}

// Control characters end a line or are white space; ";" starts a comment.
bool is_value_char(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 0x20 && byte != 0x7f && c != ';') || c == '\t';
}

std::string trimmed(const std::string& s)
{
    size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The key and value of the input's first line ("key=value"), cleaned up.
void split_setting(const std::string& line, std::string& key, std::string& value)
{
    size_t equals = line.find('=');
    for (char c : line.substr(0, equals))
        if (is_key_char(c))
            key += c;
    key = key.substr(0, 64);
    if (key.empty())
        key = "host";
    if (equals != std::string::npos)
        for (char c : line.substr(equals + 1))
            if (is_value_char(c))
                value += c;
    value = value.substr(0, LONGEST_LINE - key.size());
}
}  // namespace

// Input: "key=value", a newline, then any text as the rest of the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string key, value;
    split_setting(input.substr(0, newline), key, value);
    std::string noise = newline == std::string::npos ? "" : input.substr(newline + 1);
    temp_file file(noise + "\n" + key + " = " + value + "\n");
    ConfigFile settings(file.path);
    FUZZ_CHECK(settings.ContainsKey(key), "key \"%s\" not found", key.c_str());
    std::string found = settings[key];
    FUZZ_CHECK(found == trimmed(value), "key \"%s\" gives \"%s\", expected \"%s\"", key.c_str(), found.c_str(),
               trimmed(value).c_str());
    return 0;
}
