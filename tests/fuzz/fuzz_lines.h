// SPDX-License-Identifier: Apache-2.0
// fuzz_lines.h: a text cut into lines as the line sender's readers cut it,
// the oracle's side of "one message per line".
#pragma once

#include <string>
#include <vector>

// The lines without their newlines; a final line without newline counts.
inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        if (newline == std::string::npos)
            newline = text.size();
        lines.push_back(text.substr(start, newline - start));
        start = newline + 1;
    }
    return lines;
}
