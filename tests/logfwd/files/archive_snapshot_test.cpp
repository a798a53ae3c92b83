// SPDX-License-Identifier: Apache-2.0
// The archive snapshot: a rotation between taking it and checking it makes it
// be taken anew under the new names, and a file pinned by device and inode
// (past the descriptor limit) is found again under the name a rotation gave it.
// A rotation here is logrotate's: every archive's number up by one, the log
// file renamed to ".1" and a new, empty log file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "archive_snapshot.h"
#include "scratch_dir.h"

namespace {
// The content of the file at fd, read from its start; fd is closed.
std::string drain(int fd)
{
    std::string content;
    char chunk[256];
    for (ssize_t got; (got = pread(fd, chunk, sizeof(chunk), static_cast<off_t>(content.size()))) > 0;)
        content.append(chunk, static_cast<size_t>(got));
    close(fd);
    return content;
}

class archive_snapshot_test : public testing::Test {
protected:
    void SetUp() override
    {
        log = folder.write("messages", "the log");
        folder.write("messages.1.gz", "archive one");
        folder.write("messages.2.gz", "archive two");
    }
    // messages.2.gz -> .3.gz, messages.1.gz -> .2.gz, messages -> .1, a new messages.
    void rotate() const
    {
        const std::string& d = folder.path();
        ASSERT_EQ(rename((d + "/messages.2.gz").c_str(), (d + "/messages.3.gz").c_str()), 0);
        ASSERT_EQ(rename((d + "/messages.1.gz").c_str(), (d + "/messages.2.gz").c_str()), 0);
        ASSERT_EQ(rename(log.c_str(), (d + "/messages.1").c_str()), 0);
        folder.write("messages", "");
    }
    std::vector<std::string> paths(const archive_snapshot& snapshot) const
    {
        std::vector<std::string> names;
        for (const snapshot_file& archive : snapshot.archives)
            names.push_back(archive.path.substr(folder.path().size() + 1));
        return names;
    }

    scratch_dir folder;
    std::string log;
};

TEST_F(archive_snapshot_test, a_rotation_after_the_first_look_makes_it_take_the_files_anew)
{
    archive_snapshot first = take_snapshot_once(log);
    EXPECT_TRUE(snapshot_still_current(first, log));
    rotate();
    EXPECT_FALSE(snapshot_still_current(first, log));
    archive_snapshot snapshot = take_archive_snapshot(log);
    EXPECT_TRUE(snapshot_still_current(snapshot, log));
    ASSERT_EQ(paths(snapshot), (std::vector<std::string>{"messages.3.gz", "messages.2.gz"}));
    EXPECT_EQ(drain(open_at_its_turn(snapshot.archives[0])), "archive two");
    EXPECT_EQ(drain(open_at_its_turn(snapshot.archives[1])), "archive one");
    EXPECT_EQ(drain(open_at_its_turn(snapshot.log)), "");
    // The files held by the first look are its own, whatever their names now.
    EXPECT_EQ(drain(open_at_its_turn(first.archives[0])), "archive two");
    EXPECT_EQ(drain(open_at_its_turn(first.log)), "the log");
}

TEST_F(archive_snapshot_test, a_pinned_archive_is_found_again_by_inode_after_a_rotation)
{
    // A limit that leaves one descriptor for the snapshot: the log file is
    // held, the archives pinned.
    const int next_free = dup(0);
    ASSERT_NE(next_free, -1);
    close(next_free);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(next_free) + 8 + 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    archive_snapshot snapshot = take_archive_snapshot(log);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_EQ(paths(snapshot), (std::vector<std::string>{"messages.2.gz", "messages.1.gz"}));
    EXPECT_NE(snapshot.log.fd, -1);
    EXPECT_TRUE(snapshot.archives[0].pinned && snapshot.archives[1].pinned);
    EXPECT_EQ(snapshot.archives[0].fd, -1);
    rotate();
    EXPECT_EQ(drain(open_at_its_turn(snapshot.archives[0])), "archive two");
    EXPECT_EQ(drain(open_at_its_turn(snapshot.archives[1])), "archive one");
    EXPECT_EQ(drain(open_at_its_turn(snapshot.log)), "the log");
    // An archive removed meanwhile is gone, not another file in its place.
    snapshot_file gone(folder.path() + "/messages.2.gz");
    gone.identity = snapshot.archives[0].identity;
    gone.pinned = true;
    ASSERT_EQ(unlink((folder.path() + "/messages.3.gz").c_str()), 0);
    EXPECT_EQ(open_at_its_turn(gone), -1);
}
}  // namespace
