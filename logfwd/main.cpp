// SPDX-License-Identifier: Apache-2.0
// logfwd: forwards a log file (and, on request, its .gz archives) to a
// syslog server over UDP. Everything but the entry point lives in logfwd_core.
#include "run.h"

int main(int argc, char** argv)
{
    return logfwd_main(argc, argv);
}
