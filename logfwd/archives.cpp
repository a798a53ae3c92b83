// SPDX-License-Identifier: Apache-2.0
// The archive pass: .gz archives beside the log file, highest number first,
// each read through zlib (archive_reader.h), then the log file. Unlike a
// gunzip/gzip cycle in place, nothing on disk changes, and every file is
// read from a descriptor opened before the first line is sent, so a log
// rotation during the pass neither loses nor repeats a file.
#include "archives.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <iostream>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "archive_reader.h"
#include "archive_snapshot.h"
#include "line_sender.h"
#include "progress.h"

namespace {
const char* const ARCHIVE_ENDING = ".gz";
const unsigned SLOW_PAUSE_SECS = 60;

struct directory_closer {
    void operator()(DIR* directory) const { closedir(directory); }
};

void report_unopenable(const std::string& path)
{
    std::cout << "Impossible to open the file " << path << " in Read Mode" << std::endl;
}

// One second at a time: a signal landing just before one long sleep() would
// otherwise hold the end back by the whole minute.
void pause_a_minute(const volatile sig_atomic_t& stop_requested)
{
    std::cout << "Sleeping 1 min..." << std::endl;
    for (unsigned left = SLOW_PAUSE_SECS; left > 0 && stop_requested == 0; --left) {
        progress_wait("slow-mode pause", left);
        sleep(1);
    }
}

void forward_archive(snapshot_file& archive, syslog_destination& destination, bool slow,
                     const volatile sig_atomic_t& stop_requested)
{
    if (!archive_to_send(archive.path)) {
        std::cout << "Skipping the archive " << archive.path << ": its name does not end in .gz"
                  << std::endl;
        return;
    }
    const int fd = open_at_its_turn(archive);
    if (fd == -1)
        report_unopenable(archive.path);
    else
        send_archive(destination, fd, archive.path, decompressed_path(archive.path), stop_requested);
    if (slow && stop_requested == 0)
        pause_a_minute(stop_requested);
}

// The log file from the snapshot; a FIFO is opened only now and waited for
// until a writer comes, as cat does.
void forward_log_file(snapshot_file& log, syslog_destination& destination,
                      const volatile sig_atomic_t& stop_requested)
{
    if (log.identity.type == S_IFIFO) {
        send_log_file(destination, log.path, stop_requested);
        return;
    }
    const int fd = open_at_its_turn(log);
    if (fd == -1)
        report_unopenable(log.path);
    else
        send_open_file(destination, fd, log.path, stop_requested);
}
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

void forward_archives(const std::string& log_path, syslog_destination& destination,
                      bool slow, const volatile sig_atomic_t& stop_requested)
{
    archive_snapshot snapshot = take_archive_snapshot(log_path);
    for (size_t i = 0; i < snapshot.archives.size() && stop_requested == 0; ++i)
        forward_archive(snapshot.archives[i], destination, slow, stop_requested);
    if (stop_requested == 0)
        forward_log_file(snapshot.log, destination, stop_requested);
}
