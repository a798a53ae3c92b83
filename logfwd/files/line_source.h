// SPDX-License-Identifier: Apache-2.0
// line_source.h: where the line sender takes its lines from, whatever holds
// them (a text file, a gzip archive): one call per line, no copy.
#pragma once

#include <string_view>

// read gives the next line, without its newline, valid until the next call;
// false at the end (or when reading failed, which the source records).
struct line_source {
    bool (*read)(void* state, std::string_view& line);
    void* state;
};
