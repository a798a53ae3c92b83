// SPDX-License-Identifier: Apache-2.0
// archive_number_fuzz.cpp: archive_number against a computation of its own
// (strtoll on the text between the last "." before the last ".gz" and that
// ".gz", clamped to int), and the archive order on a list of such paths.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive_names.h"
#include "fuzz_check.h"

namespace {
long long expected_number(const std::string& path)
{
    size_t ending = std::string::npos;
    for (size_t i = path.size(); i >= 3 && ending == std::string::npos; --i)
        if (path.compare(i - 3, 3, ".gz") == 0)
            ending = i - 3;
    if (ending == std::string::npos)
        return -1;
    size_t dot = path.find_last_of('.', ending == 0 ? 0 : ending - 1);
    if (ending == 0 || dot == std::string::npos)
        return -1;
    // As strtol sees it: the text ends at the first NUL.
    std::string middle = path.substr(dot + 1, ending - dot - 1).c_str();
    return std::clamp<long long>(strtoll(middle.c_str(), nullptr, 10), INT_MIN, INT_MAX);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t newline; (newline = text.find('\n', start)) != std::string::npos; start = newline + 1)
        lines.push_back(text.substr(start, newline - start));
    lines.push_back(text.substr(start));
    return lines;
}

// Highest number first; among equal numbers, later in the input goes first.
void check_order(const std::vector<std::string>& paths)
{
    std::vector<std::pair<long long, size_t>> keys;
    for (size_t i = 0; i < paths.size(); ++i)
        keys.emplace_back(expected_number(paths[i]), i);
    std::sort(keys.rbegin(), keys.rend());
    std::vector<std::string> ordered = paths;
    order_archive_files(ordered);
    for (size_t i = 0; i < keys.size(); ++i)
        FUZZ_CHECK(ordered[i] == paths[keys[i].second], "place %zu holds \"%s\", expected \"%s\"", i,
                   ordered[i].c_str(), paths[keys[i].second].c_str());
}
}  // namespace

// Input: archive paths, one a line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> paths = lines_of(std::string(reinterpret_cast<const char*>(data), size));
    for (const std::string& path : paths)
        FUZZ_CHECK(archive_number(path) == expected_number(path), "\"%s\" gives %d, expected %lld", path.c_str(),
                   archive_number(path), expected_number(path));
    check_order(paths);
    return 0;
}
