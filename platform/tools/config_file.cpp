// SPDX-License-Identifier: Apache-2.0
// Settings files of the tools library stand-in, read with inih: "key = value"
// (or "key: value"), "#"/";" comments, blanks trimmed, sections ignored, the
// last repeated key wins. Unlike plain inih, an indented line is a setting of
// its own (not a continuation), and a line longer than inih's line buffer
// (200 bytes) is still read whole: inih parses its key, the value is ours.
#include "tools.h"

#include <cctype>
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
    const char* text = nullptr;  // the current line, leading white space removed
    size_t length = 0;           // its bytes, newline included
    size_t value_at = 0;         // a line too long for inih: where its value begins
    std::map<std::string, std::string>* values = nullptr;
    line_source() = default;
    line_source(const line_source&) = delete;  // a copy would free line twice
    line_source& operator=(const line_source&) = delete;
    ~line_source() { free(line); }
};

bool is_blank(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

// Just past the first "=" or ":" of text, as inih finds it: unless a comment
// (";" after a blank) or a NUL byte comes first; 0 when there is none.
size_t value_start(const char* text, size_t length)
{
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        if (text[i] == '=' || text[i] == ':')
            return i + 1;
        if (text[i] == ';' && i > 0 && is_blank(text[i - 1]))
            return 0;
    }
    return 0;
}

// What inih parses of a line too long for its buffer of room bytes: the key
// and its "=" (the blanks between them left out), when they fit; the value
// is then taken from the line itself. Otherwise the line's start.
size_t long_line_head(line_source& source, char* buffer, size_t room)
{
    source.value_at = value_start(source.text, source.length);
    size_t key_end = source.value_at == 0 ? 0 : source.value_at - 1;
    while (key_end > 0 && is_blank(source.text[key_end - 1]))
        --key_end;
    if (source.value_at == 0 || key_end + 1 > room) {
        source.value_at = 0;
        memcpy(buffer, source.text, room);
        return room;
    }
    memcpy(buffer, source.text, key_end);
    buffer[key_end] = source.text[source.value_at - 1];
    return key_end + 1;
}

// inih's reader: the next line without its leading white space.
char* next_line(char* buffer, int size, void* stream)
{
    auto* source = static_cast<line_source*>(stream);
    const ssize_t length = getline(&source->line, &source->capacity, source->file);
    if (length == -1)
        return nullptr;
    size_t blanks = 0;
    while (blanks < static_cast<size_t>(length) && source->line[blanks] != '\n' &&
           is_blank(source->line[blanks]))
        ++blanks;
    source->text = source->line + blanks;
    source->length = static_cast<size_t>(length) - blanks;
    source->value_at = 0;
    const size_t room = static_cast<size_t>(size) - 1;
    size_t head = source->length;
    if (head > room)
        head = long_line_head(*source, buffer, room);
    else
        memcpy(buffer, source->text, head);
    buffer[head] = '\0';
    return buffer;
}

// The value of a long line from value_at to its end, cut where inih cuts a
// value (at a ";" after a blank) and trimmed.
std::string whole_value(const line_source& source)
{
    const char* text = source.text;
    size_t start = source.value_at;
    size_t end = start;
    while (end < source.length && text[end] != '\0' && !(text[end] == ';' && is_blank(text[end - 1])))
        ++end;
    while (start < end && is_blank(text[start]))
        ++start;
    while (end > start && is_blank(text[end - 1]))
        --end;
    return std::string(text + start, end - start);
}

int store_value(void* user, const char* /*section*/, const char* name, const char* value)
{
    auto* source = static_cast<line_source*>(user);
    (*source->values)[name] = source->value_at != 0 ? whole_value(*source) : value ? value : "";
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
    source.values = &values;
    // Lines that are neither settings nor comments are skipped; the rest still count.
    ini_parse_stream(next_line, &source, store_value, &source);
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
