// SPDX-License-Identifier: Apache-2.0
// tools.h: the platform's general tools library (time stamps, files,
// settings files).
#pragma once

#include <map>
#include <string>

class DateTimeHelper {
public:
    enum DateTimeFormat {
        ISO8601_UTC = 0,  // 2026-12-08T09:30:05Z
    };
    // Writes the current time into buffer (64 bytes are enough for every format).
    static void GetCurrentTime(char* buffer, DateTimeFormat format, bool local_time);
};

class FileHelper {
public:
    static bool FileExists(const char* path);
};

// A settings file of "key = value" lines.
class ConfigFile {
public:
    explicit ConfigFile(const std::string& path);
    bool ContainsKey(const std::string& key) const;
    std::string operator[](const std::string& key) const;

private:
    std::map<std::string, std::string> values;
};
