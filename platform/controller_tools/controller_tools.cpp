// SPDX-License-Identifier: Apache-2.0
// Controller tools stand-in: the controller's FID comes from CONTROLLER_FID,
// or else is the host name.
#include "controller_tools.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

const char* GetControllerFID()
{
    static std::string fid;
    const char* from_env = getenv("CONTROLLER_FID");
    if (from_env && *from_env) {
        fid = from_env;
    } else {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) != 0)
            host[0] = '\0';
        fid = host;
    }
    return fid.c_str();
}
