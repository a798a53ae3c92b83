// The archive pass: .gz archives beside the log file, highest number first,
// gunzip in place, send, gzip. Stricter than running the commands blindly: quoted
// paths, taken names skipped, results checked on disk, and the archive in hand
// compressed again whatever ends the pass (exception, SIGINT, SIGTERM, SIGHUP).
#include "archives.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iostream>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "line_sender.h"
#include "run.h"
#include "shell_quote.h"
#include "tools.h"

namespace {
const char* const ARCHIVE_ENDING = ".gz";
const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
const int STOP_SIGNAL_COUNT = sizeof(STOP_SIGNALS) / sizeof(STOP_SIGNALS[0]);
const unsigned SLOW_PAUSE_SECS = 60;

struct directory_closer {
    void operator()(DIR* directory) const { closedir(directory); }
};

bool path_exists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool ends_with(const std::string& text, std::string_view ending)
{
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

void note_stop_signal(int number)
{
    stop_signal = number;
}

// Catches the stop signals for the length of the pass and restores the former
// handling afterwards; a signal that was ignored at start stays ignored.
class stop_signal_catcher {
public:
    stop_signal_catcher()
    {
        struct sigaction catcher {};
        catcher.sa_handler = note_stop_signal;  // no SA_RESTART: sleep() must wake up
        sigemptyset(&catcher.sa_mask);
        for (int i = 0; i < STOP_SIGNAL_COUNT; ++i) {
            sigaction(STOP_SIGNALS[i], nullptr, &saved[i]);
            if (saved[i].sa_handler != SIG_IGN)
                sigaction(STOP_SIGNALS[i], &catcher, nullptr);
        }
    }
    ~stop_signal_catcher()
    {
        for (int i = 0; i < STOP_SIGNAL_COUNT; ++i)
            sigaction(STOP_SIGNALS[i], &saved[i], nullptr);
    }
    stop_signal_catcher(const stop_signal_catcher&) = delete;
    stop_signal_catcher& operator=(const stop_signal_catcher&) = delete;

private:
    struct sigaction saved[STOP_SIGNAL_COUNT] {};
};

// Ends the process the way the caught signal would have, as a shell expects.
void end_by_stop_signal()
{
    const int number = stop_signal;
    if (number == 0)
        return;
    std::cout << "Stopped by signal " << number << std::endl;
    signal(number, SIG_DFL);
    raise(number);
    _exit(128 + number);
}

// Compresses the decompressed archive again when it goes out of scope, on
// every path. The command is built up front so that nothing here can throw.
class recompressor {
public:
    recompressor(const std::string& plain_path, const std::string& archive_path)
        : plain(plain_path), archive(archive_path), command("gzip -- " + shell_quote(plain_path))
    {
    }
    ~recompressor()
    {
        // A Ctrl-C reaches gzip too (same process group) and gzip then keeps
        // the plain file: one more try once the signal has been delivered.
        for (int attempt = 0; attempt < 2; ++attempt) {
            Tools::ExecuteShellCommand(command.c_str());
            if (path_exists(archive) || stop_signal == 0)
                break;
        }
        if (!path_exists(archive))
            std::cout << "Impossible to compress the file " << plain << " again" << std::endl;
    }
    recompressor(const recompressor&) = delete;
    recompressor& operator=(const recompressor&) = delete;

private:
    const std::string& plain;
    const std::string& archive;
    const std::string command;
};

// One second at a time: a signal landing just before one long sleep() would
// otherwise hold the end back by the whole minute.
void pause_a_minute()
{
    std::cout << "Sleeping 1 min..." << std::endl;
    for (unsigned left = SLOW_PAUSE_SECS; left > 0 && stop_signal == 0; --left)
        sleep(1);
}

// gunzip puts its output at the decompressed path only for names ending in
// ".gz", and must never replace a file that is already there.
bool decompress_in_place(const std::string& archive, const std::string& plain)
{
    if (!ends_with(archive, ARCHIVE_ENDING)) {
        std::cout << "Skipping the archive " << archive << ": its name does not end in .gz"
                  << std::endl;
        return false;
    }
    if (path_exists(plain)) {
        std::cout << "Skipping the archive " << archive << ": " << plain << " already exists"
                  << std::endl;
        return false;
    }
    Tools::ExecuteShellCommand(("gunzip -- " + shell_quote(archive)).c_str());
    if (path_exists(archive) || !path_exists(plain)) {
        std::cout << "Impossible to decompress the archive " << archive << std::endl;
        return false;
    }
    return true;
}

void forward_archive(const std::string& archive, syslog_destination& destination,
                     bool slow)
{
    const std::string plain = decompressed_path(archive);
    if (!decompress_in_place(archive, plain))
        return;
    const recompressor compress_again(plain, archive);
    if (stop_signal != 0)
        return;
    send_log_file(destination, plain, stop_signal);
    if (slow && stop_signal == 0)
        pause_a_minute();
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

std::vector<std::string> list_archive_files(const std::string& log_path)
{
    const size_t slash = log_path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : log_path.substr(0, slash);
    const std::string wanted = (slash == std::string::npos ? log_path : log_path.substr(slash + 1)) + ".";
    std::vector<std::string> archives;
    // "/messages" lies in "/", whose name in front of the slash is empty.
    const std::unique_ptr<DIR, directory_closer> listing(
        opendir(directory.empty() ? "/" : directory.c_str()));
    if (!listing)
        return archives;
    while (const dirent* entry = readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name.find(wanted) != std::string_view::npos && name.find(ARCHIVE_ENDING) != std::string_view::npos)
            archives.push_back(directory + "/" + entry->d_name);
    }
    order_archive_files(archives);
    return archives;
}

std::string decompressed_path(const std::string& archive)
{
    return archive.substr(0, archive.rfind(ARCHIVE_ENDING));
}

void forward_archives(const std::string& log_path, syslog_destination& destination,
                      bool slow)
{
    const std::vector<std::string> archives = list_archive_files(log_path);
    {
        const stop_signal_catcher catcher;
        for (const std::string& archive : archives) {
            if (stop_signal != 0)
                break;
            forward_archive(archive, destination, slow);
        }
    }
    end_by_stop_signal();
}
