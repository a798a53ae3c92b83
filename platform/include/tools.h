// SPDX-License-Identifier: Apache-2.0
// tools.h: the platform's general tools library (time stamps, files,
// settings files, shell commands).
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

class Tools {
public:
    // Runs command through the system shell and returns once the shell has
    // finished, with its wait status.
    //
    // What logfwd relies on, and nothing more: the shell has ended when the
    // call returns. logfwd does not rely on the returned status, nor on
    // anything about signals: an implementation may let a signal reach the
    // caller while the command runs (posix_spawn, as the stand-in does) or
    // ignore SIGINT and SIGQUIT in the caller meanwhile (as system() does);
    // the command itself may be killed by a signal sent to the process group.
    // logfwd checks the files after every command instead, and waits for any
    // process the shell left behind.
    static int ExecuteShellCommand(const char* command);
};
