// SPDX-License-Identifier: Apache-2.0
// archive_snapshot.h: the files of one archive pass, taken before its first
// line is sent: every archive and the log file held open for reading, so that
// a rotation during the pass (names shifted, a file removed) changes nothing
// of what is read. Files are told apart by device and inode, never by name.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// What a file is, whatever its name; exists is false for a name with nothing behind it.
struct file_identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    mode_t type = 0;  // the S_IFMT bits of st_mode
};

// One file of the snapshot under the name it was listed by. fd is its open
// descriptor (closed with it), or -1: pinned by identity only (past the
// descriptor limit, opened at its turn), or not to be read (gone, unreadable,
// a directory; a FIFO log file, which is opened at its turn as it is).
struct snapshot_file {
    std::string path;
    file_identity identity;
    int fd = -1;
    bool pinned = false;

    snapshot_file() = default;
    explicit snapshot_file(std::string listed_path) : path(std::move(listed_path)) {}
    ~snapshot_file();
    snapshot_file(snapshot_file&& other) noexcept;
    snapshot_file& operator=(snapshot_file&& other) noexcept;
    snapshot_file(const snapshot_file&) = delete;
    snapshot_file& operator=(const snapshot_file&) = delete;
};

struct archive_snapshot {
    std::vector<snapshot_file> archives;  // as list_archive_files orders them
    snapshot_file log;
};

// Opens the log file and every archive ending in .gz that list_archive_files
// gives, then lists and looks again: when anything changed meanwhile (a
// rotation), it starts over, a few times at most. An archive that vanished
// before it could be opened stays in the snapshot as gone. The log file is opened
// first, so that it is held even at the descriptor limit. A FIFO log file is
// left to its turn: opening it here would wake a waiting writer for nothing.
archive_snapshot take_archive_snapshot(const std::string& log_path);

// One try of take_archive_snapshot, and its check: true when the folder still
// lists the same archives and every name still leads to the file taken under
// it (an archive found gone may stay gone, but not come back).
archive_snapshot take_snapshot_once(const std::string& log_path);
bool snapshot_still_current(const archive_snapshot& snapshot, const std::string& log_path);

// The descriptor of file at its turn, handed over to the caller: the one held,
// or, for a pinned file, the file opened anew by its identity, under its own
// name or whatever name it has in its folder now. -1 when it is not to be
// read, or gone.
int open_at_its_turn(snapshot_file& file);
