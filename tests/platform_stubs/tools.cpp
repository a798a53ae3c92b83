// SPDX-License-Identifier: Apache-2.0
// Link-only stub of the tools library: what tools.h declares.
#include "tools.h"

void DateTimeHelper::GetCurrentTime(char* buffer, DateTimeFormat, bool) { buffer[0] = '\0'; }
bool FileHelper::FileExists(const char*) { return false; }
ConfigFile::ConfigFile(const std::string&) {}
bool ConfigFile::ContainsKey(const std::string&) const { return false; }
std::string ConfigFile::operator[](const std::string&) const { return ""; }
