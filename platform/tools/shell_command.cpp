// SPDX-License-Identifier: Apache-2.0
// Shell commands of the tools library stand-in: "/bin/sh -c LINE", waited for.
// posix_spawn rather than system(): system() would ignore SIGINT and SIGQUIT
// in the caller while the command runs.
#include "tools.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int Tools::ExecuteShellCommand(const char* command)
{
    char sh[] = "/bin/sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}
