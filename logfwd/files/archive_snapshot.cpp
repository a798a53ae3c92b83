// SPDX-License-Identifier: Apache-2.0
// The snapshot of an archive pass. A directory cannot be listed and opened in
// one step, so the snapshot is taken optimistically: open everything, list
// and look again, start over when a rotation came in between. Rotation only
// moves a file to a higher number, never back, so a file found under the same
// name before and after has been there all along.
#include "archive_snapshot.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "archive_names.h"

namespace {
const int SNAPSHOT_TRIES = 5;
// Descriptors left free for the run (a connection made again, the file of
// the next turn); beyond them files are pinned, not held.
const int DESCRIPTOR_RESERVE = 8;
// Times a pinned file is looked for again when it moves while being opened.
const int REOPEN_TRIES = 3;

file_identity identity_of(const struct stat& info)
{
    return {true, info.st_dev, info.st_ino, static_cast<mode_t>(info.st_mode & S_IFMT)};
}

file_identity identity_of_path(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? identity_of(info) : file_identity{};
}

file_identity identity_of_descriptor(int fd)
{
    struct stat info {};
    return fstat(fd, &info) == 0 ? identity_of(info) : file_identity{};
}

bool same_file(const file_identity& first, const file_identity& second)
{
    return first.exists == second.exists &&
           (!first.exists || (first.device == second.device && first.inode == second.inode));
}

// Archives are regular files; the log file may be anything but a directory
// (a FIFO is opened at its turn).
bool to_be_held(const file_identity& identity, bool archive)
{
    return archive ? identity.type == S_IFREG
                   : identity.type != S_IFDIR && identity.type != S_IFIFO;
}

// Never waits to open (a FIFO would wait for a writer), then reads as usual.
int open_without_waiting(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd != -1)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The lowest descriptor that the snapshot leaves free.
int descriptor_ceiling()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return INT_MAX;
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT_MAX)) - DESCRIPTOR_RESERVE;
}

// Opens the file at path, or pins it by identity once descriptors run short.
snapshot_file take_file(const std::string& path, bool archive, int ceiling)
{
    snapshot_file file(path);
    file.identity = identity_of_path(path);
    if (!to_be_held(file.identity, archive))
        return file;
    const int fd = open_without_waiting(path);
    if (fd == -1) {
        const int error = errno;
        file.pinned = error == EMFILE || error == ENFILE;
        if (error == ENOENT)
            file.identity = file_identity{};  // gone since it was listed
        return file;
    }
    file.identity = identity_of_descriptor(fd);  // what was opened is what counts
    if (fd < ceiling && to_be_held(file.identity, archive))
        file.fd = fd;
    else {
        file.pinned = fd >= ceiling;
        close(fd);
    }
    return file;
}

// A descriptor of path when it leads to the wanted file, else -1.
int open_if_same(const std::string& path, const file_identity& wanted)
{
    const int fd = open_without_waiting(path);
    if (fd == -1 || same_file(identity_of_descriptor(fd), wanted))
        return fd;
    close(fd);
    return -1;
}

// The path under which wanted lies in folder now; "" when it is gone.
std::string find_in_folder(const std::string& folder, const file_identity& wanted)
{
    for (const std::string& name : folder_entries(folder)) {
        const std::string path = folder + "/" + name;
        if (same_file(identity_of_path(path), wanted))
            return path;
    }
    return "";
}
}  // namespace

archive_snapshot take_snapshot_once(const std::string& log_path)
{
    const int ceiling = descriptor_ceiling();
    archive_snapshot snapshot;
    snapshot.log = take_file(log_path, false, ceiling);
    for (const std::string& path : list_archive_files(log_path)) {
        if (archive_to_send(path))
            snapshot.archives.push_back(take_file(path, true, ceiling));
        else
            snapshot.archives.emplace_back(path);
    }
    return snapshot;
}

bool snapshot_still_current(const archive_snapshot& snapshot, const std::string& log_path)
{
    const std::vector<std::string> listed = list_archive_files(log_path);
    size_t next = 0;
    for (const snapshot_file& archive : snapshot.archives) {
        const bool to_send = archive_to_send(archive.path);
        const bool listed_next = next < listed.size() && listed[next] == archive.path;
        if (to_send && !archive.identity.exists && !listed_next)
            continue;
        if (!listed_next || (to_send && !same_file(identity_of_path(archive.path), archive.identity)))
            return false;
        ++next;
    }
    return next == listed.size() && same_file(identity_of_path(log_path), snapshot.log.identity);
}

snapshot_file::~snapshot_file()
{
    if (fd != -1)
        close(fd);
}

snapshot_file::snapshot_file(snapshot_file&& other) noexcept
    : path(std::move(other.path)), identity(other.identity), fd(other.fd), pinned(other.pinned)
{
    other.fd = -1;
}

snapshot_file& snapshot_file::operator=(snapshot_file&& other) noexcept
{
    if (this != &other) {
        if (fd != -1)
            close(fd);
        path = std::move(other.path);
        identity = other.identity;
        fd = std::exchange(other.fd, -1);
        pinned = other.pinned;
    }
    return *this;
}

archive_snapshot take_archive_snapshot(const std::string& log_path)
{
    archive_snapshot snapshot = take_snapshot_once(log_path);
    for (int tries = 1; tries < SNAPSHOT_TRIES && !snapshot_still_current(snapshot, log_path);
         ++tries) {
        snapshot = archive_snapshot{};  // its descriptors are free again for the next try
        snapshot = take_snapshot_once(log_path);
    }
    return snapshot;
}

int open_at_its_turn(snapshot_file& file)
{
    if (!file.pinned)
        return std::exchange(file.fd, -1);
    for (int tries = 0; tries < REOPEN_TRIES; ++tries) {
        const int fd = open_if_same(file.path, file.identity);
        if (fd != -1)
            return fd;
        const std::string moved = find_in_folder(folder_of(file.path), file.identity);
        if (moved.empty())
            return -1;
        const int moved_fd = open_if_same(moved, file.identity);
        if (moved_fd != -1)
            return moved_fd;
    }
    return -1;
}
