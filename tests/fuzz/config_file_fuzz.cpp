// SPDX-License-Identifier: Apache-2.0
// config_file_fuzz.cpp: ConfigFile on any file content, followed by one
// "key = value" line built from the input; that key must come back with its
// value trimmed. logfwd's own check of the same file must agree with the
// reader: it refuses the first line over 4096 bytes, names only keys the
// reader has, and lets no misspelling of logfwd's keys through.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>

#include "fuzz_check.h"
#include "fuzz_temp_file.h"
#include "settings.h"
#include "tools.h"

namespace {
const size_t LONGEST_LINE = 4000;

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

void check_refusal(const std::string& text, const ConfigFile& settings)
{
    std::istringstream file(text);
    const std::string refusal = settings_refusal(file);
    size_t long_line = 0, number = 1;  // the number of the first line over 4096 bytes (text ends in \n)
    for (size_t start = 0, end = 0; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++number)
        if (long_line == 0 && end - start > 4096)
            long_line = number;
    const size_t key_end = refusal.rfind("\" in /etc/orvane/syslog_settings (did you mean");
    if (refusal.rfind("Unknown key \"", 0) == 0 && key_end != std::string::npos) {
        const std::string key = refusal.substr(13, key_end - 13);
        FUZZ_CHECK(settings.ContainsKey(key), "refused key \"%s\" is none of the reader's", key.c_str());
        return;
    }
    FUZZ_CHECK(refusal == (long_line == 0 ? "" : "Line " + std::to_string(long_line) +
                                                     " of /etc/orvane/syslog_settings is too long"),
               "refusal \"%s\", first long line %zu", refusal.c_str(), long_line);
    for (const char* misspelt : {"HOST", "Protocol", "ports", "RATE", "ca-file", "CERT_FILE", "key-file"})
        FUZZ_CHECK(long_line != 0 || !settings.ContainsKey(misspelt), "\"%s\" let through", misspelt);
}
}  // namespace

// Input: "key=value", a newline, then any text as the rest of the file
// (byte 1: 1000 bytes of a line).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string key, value;
    split_setting(input.substr(0, newline), key, value);
    std::string noise;
    for (char c : newline == std::string::npos ? "" : input.substr(newline + 1))
        noise += c == '\x01' ? std::string(1000, 'x') : std::string(1, c);  // long lines from short inputs
    const std::string text = noise + "\n" + key + " = " + value + "\n";
    temp_file file(text);
    ConfigFile settings(file.path);
    check_refusal(text, settings);
    FUZZ_CHECK(settings.ContainsKey(key), "key \"%s\" not found", key.c_str());
    std::string found = settings[key];
    FUZZ_CHECK(found == trimmed(value), "key \"%s\" gives \"%s\", expected \"%s\"", key.c_str(), found.c_str(),
               trimmed(value).c_str());
    return 0;
}
