// SPDX-License-Identifier: Apache-2.0
// A stand-in variant of Tools::ExecuteShellCommand built on system(), which
// ignores SIGINT and SIGQUIT in the caller while the command runs, as a vendor
// tools library may. Linked ahead of the tools stand-in into
// logfwd_system_shell, so the archive pass is tested against both kinds (the
// linker then takes no shell_command.o from the stand-in's archive).
#include <cstdlib>

#include "tools.h"

int Tools::ExecuteShellCommand(const char* command)
{
    return system(command);
}
