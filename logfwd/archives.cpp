// SPDX-License-Identifier: Apache-2.0
// The archive pass: .gz archives beside the log file, highest number first,
// gunzip in place, send, gzip; an archive that cannot be decompressed in place
// is read through zlib without touching it (archive_reader.h). Stricter than
// running the commands blindly: quoted paths, results checked on disk after
// every command, gzip tried twice, and the archive in hand compressed again
// whatever ends its turn. The signals that stop the pass are the run's
// business (stop_signals.h); here they only show as the stop flag.
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
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive_reader.h"
#include "line_sender.h"
#include "shell_quote.h"
#include "tools.h"

namespace {
const char* const ARCHIVE_ENDING = ".gz";
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

// Runs command and waits for every process it left behind. A signal sent to
// the process group can end the shell before gzip has finished cleaning up;
// as the pass's subreaper logfwd inherits that gzip and waits for it here, so
// the files are settled before they are looked at.
void run_command(const std::string& command)
{
    Tools::ExecuteShellCommand(command.c_str());
    while (waitpid(-1, nullptr, 0) != -1 || errno == EINTR) {
    }
}

// gzip's output of a run that did not finish (killed, a full disk), if it left one.
void remove_partial_output(const std::string& path)
{
    if (path_exists(path))
        unlink(path.c_str());
}

// Compresses the decompressed archive again: explicitly at the end of its
// turn, or when it goes out of scope on an exception. The command is built up
// front so that nothing here can throw.
class recompressor {
public:
    recompressor(const std::string& plain_path, const std::string& archive_path)
        : plain(plain_path), archive(archive_path), command("gzip -- " + shell_quote(plain_path))
    {
    }
    ~recompressor()
    {
        if (!done)
            compress();
    }
    recompressor(const recompressor&) = delete;
    recompressor& operator=(const recompressor&) = delete;

    // The archive is back when its .gz exists and the plain file is gone
    // (gzip removes it only after the .gz is complete). A second try follows
    // a failed first; false, reported with both paths, when that fails too.
    bool compress()
    {
        done = true;
        for (int attempt = 0; attempt < 2; ++attempt) {
            // Nothing lay at the archive's name after gunzip: what lies
            // there now is the unfinished output of the first try.
            if (attempt > 0)
                remove_partial_output(archive);
            run_command(command);
            if (path_exists(archive) && !path_exists(plain))
                return true;
        }
        std::cout << "Impossible to compress the file " << plain << " again into " << archive
                  << std::endl;
        return false;
    }

private:
    const std::string& plain;
    const std::string& archive;
    const std::string command;
    bool done = false;
};

// One second at a time: a signal landing just before one long sleep() would
// otherwise hold the end back by the whole minute.
void pause_a_minute(const volatile sig_atomic_t& stop_requested)
{
    std::cout << "Sleeping 1 min..." << std::endl;
    for (unsigned left = SLOW_PAUSE_SECS; left > 0 && stop_requested == 0; --left)
        sleep(1);
}

// True when gunzip replaced the archive by its decompressed file. Called only
// while nothing lies at plain, so a plain file beside a remaining archive is
// what an interrupted gunzip left (SIGQUIT, say, which gzip does not clean
// up after): it is removed.
bool decompress_in_place(const std::string& archive, const std::string& plain)
{
    run_command("gunzip -- " + shell_quote(archive));
    if (!path_exists(archive))
        return path_exists(plain);
    remove_partial_output(plain);
    return false;
}

// One archive's turn; false when it could not be compressed again, which ends
// the pass.
bool forward_archive(const std::string& archive, syslog_destination& destination,
                     bool slow, const volatile sig_atomic_t& stop_requested)
{
    if (!ends_with(archive, ARCHIVE_ENDING)) {
        std::cout << "Skipping the archive " << archive << ": its name does not end in .gz"
                  << std::endl;
        return true;
    }
    const std::string plain = decompressed_path(archive);
    // A taken name is never overwritten, read or sent: the archive is read as it lies.
    if (!path_exists(plain) && decompress_in_place(archive, plain)) {
        recompressor compress_again(plain, archive);
        if (stop_requested == 0)
            send_log_file(destination, plain, stop_requested);
        if (slow && stop_requested == 0)
            pause_a_minute(stop_requested);
        return compress_again.compress();
    }
    if (stop_requested != 0)
        return true;
    send_archive_untouched(destination, archive, plain, stop_requested);
    if (slow && stop_requested == 0)
        pause_a_minute(stop_requested);
    return true;
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

bool forward_archives(const std::string& log_path, syslog_destination& destination,
                      bool slow, const volatile sig_atomic_t& stop_requested)
{
    const std::vector<std::string> archives = list_archive_files(log_path);
    // Orphans of the commands (gzip whose shell a signal ended) become ours to wait for.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    bool safe = true;
    for (size_t i = 0; i < archives.size() && safe && stop_requested == 0; ++i)
        safe = forward_archive(archives[i], destination, slow, stop_requested);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    return safe;
}
