// SPDX-License-Identifier: Apache-2.0
// logfwd: forwards a log file (and, on request, its .gz archives) to a
// syslog server over UDP, TCP or TLS. Everything but the entry point lives in
// logfwd_core and its libraries (files/, transport/, base/).
#include "run.h"

int main(int argc, char** argv)
{
    return logfwd_main(argc, argv);
}
