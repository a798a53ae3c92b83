// SPDX-License-Identifier: Apache-2.0
// Archive names, matched by substring as logrotate's many naming schemes
// need: "BASE." anywhere in the name and ".gz" anywhere, numbers read the
// way strtol reads them. Directory entries are judged by name alone.
#include "archive_names.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string_view>

namespace {
const char* const ARCHIVE_ENDING = ".gz";

struct directory_closer {
    void operator()(DIR* directory) const { closedir(directory); }
};
}  // namespace

int archive_number(const std::string& path)
{
    const size_t ending = path.rfind(ARCHIVE_ENDING);
    if (ending == std::string::npos || ending == 0)
        return -1;
    const size_t dot = path.rfind('.', ending - 1);
    if (dot == std::string::npos)
        return -1;
    const std::string middle = path.substr(dot + 1, ending - dot - 1);
    // long is 32 bits on the controller and 64 here: clamp so both agree.
    const long number = strtol(middle.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(number, INT_MIN, INT_MAX));
}

bool archive_number_less(const std::string& first, const std::string& second)
{
    return archive_number(first) < archive_number(second);
}

void order_archive_files(std::vector<std::string>& archives)
{
    std::stable_sort(archives.begin(), archives.end(), archive_number_less);
    std::reverse(archives.begin(), archives.end());
}

std::string folder_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::vector<std::string> folder_entries(const std::string& folder)
{
    std::vector<std::string> names;
    // "/messages" lies in "/", whose name in front of the slash is empty.
    const std::unique_ptr<DIR, directory_closer> listing(
        opendir(folder.empty() ? "/" : folder.c_str()));
    if (!listing)
        return names;
    while (const dirent* entry = readdir(listing.get()))
        names.emplace_back(entry->d_name);
    return names;
}

std::vector<std::string> list_archive_files(const std::string& log_path)
{
    const std::string folder = folder_of(log_path);
    const std::string wanted = log_path.substr(log_path.rfind('/') + 1) + ".";
    std::vector<std::string> archives;
    for (const std::string& name : folder_entries(folder)) {
        if (name.find(wanted) != std::string::npos && name.find(ARCHIVE_ENDING) != std::string::npos)
            archives.push_back(folder + "/" + name);
    }
    order_archive_files(archives);
    return archives;
}

bool archive_to_send(const std::string& archive)
{
    const std::string_view ending = ARCHIVE_ENDING;
    return archive.size() >= ending.size() &&
           archive.compare(archive.size() - ending.size(), ending.size(), ending) == 0;
}

std::string decompressed_path(const std::string& archive)
{
    return archive.substr(0, archive.rfind(ARCHIVE_ENDING));
}
