// Settings files of the tools library stand-in, read with inih:
// "key = value" lines, "#" and ";" comment lines, blanks around key and value
// trimmed, the last of a repeated key wins. Section headers are allowed and
// ignored: keys are looked up by name alone. A file that cannot be read
// gives no keys.
#include "tools.h"

#include <ini.h>

namespace {
int store_value(void* user, const char* /*section*/, const char* name, const char* value)
{
    auto* values = static_cast<std::map<std::string, std::string>*>(user);
    (*values)[name] = value ? value : "";
    return 1;
}
}  // namespace

ConfigFile::ConfigFile(const std::string& path)
{
    // Lines that are neither settings nor comments are skipped; the rest still count.
    ini_parse(path.c_str(), store_value, &values);
}

bool ConfigFile::ContainsKey(const std::string& key) const
{
    return values.count(key) != 0;
}

std::string ConfigFile::operator[](const std::string& key) const
{
    auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}
