// SPDX-License-Identifier: Apache-2.0
// Private mount namespace for unit tests that need /mnt/vexa/set.
#include "private_mounts.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>

bool enter_private_settings_mount(std::string& why)
{
    if (unshare(CLONE_NEWNS) != 0) {
        why = std::string("unshare: ") + strerror(errno);
        return false;
    }
    // Keep our mounts from propagating back to the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/mnt", "tmpfs", 0, "size=16m") != 0) {
        why = std::string("mount: ") + strerror(errno);
        return false;
    }
    mkdir("/mnt/vexa", 0755);
    mkdir("/mnt/vexa/set", 0755);
    return true;
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
