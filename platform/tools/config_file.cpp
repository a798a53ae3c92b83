// SPDX-License-Identifier: Apache-2.0
// Settings files of the tools library stand-in, read with inih: "key = value",
// "#"/";" comments, blanks trimmed, sections ignored, the last repeated key wins.
// Unlike plain inih, an indented line is a setting of its own (not a
// continuation) and a line too long for inih's buffer is dropped, not cut.
#include "tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ini.h>
#include <memory>

namespace {
struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};

struct line_source {
    FILE* file = nullptr;
    char* line = nullptr;
    size_t capacity = 0;
    line_source() = default;
    line_source(const line_source&) = delete;  // a copy would free line twice
    line_source& operator=(const line_source&) = delete;
    ~line_source() { free(line); }
};

// inih's reader: the next line that fits in size bytes, leading blanks removed.
char* next_line(char* buffer, int size, void* stream)
{
    auto* source = static_cast<line_source*>(stream);
    ssize_t length = 0;
    while ((length = getline(&source->line, &source->capacity, source->file)) != -1) {
        const size_t blanks = strspn(source->line, " \t");
        const size_t rest = static_cast<size_t>(length) - blanks;
        if (rest < static_cast<size_t>(size)) {
            memcpy(buffer, source->line + blanks, rest);
            buffer[rest] = '\0';
            return buffer;
        }
    }
    return nullptr;
}

int store_value(void* user, const char* /*section*/, const char* name, const char* value)
{
    auto* values = static_cast<std::map<std::string, std::string>*>(user);
    (*values)[name] = value ? value : "";
    return 1;
}
}  // namespace

ConfigFile::ConfigFile(const std::string& path)
{
    const std::unique_ptr<FILE, file_closer> file(fopen(path.c_str(), "re"));
    if (!file)
        return;
    line_source source;
    source.file = file.get();
    // Lines that are neither settings nor comments are skipped; the rest still count.
    ini_parse_stream(next_line, &source, store_value, &values);
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
