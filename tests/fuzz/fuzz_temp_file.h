// SPDX-License-Identifier: Apache-2.0
// fuzz_temp_file.h: a file holding one fuzz input, for the targets whose code
// under test reads files; removed on every path.
#pragma once

#include <cstdlib>
#include <string>
#include <sys/types.h>
#include <unistd.h>

#include "fuzz_check.h"

class temp_file {
public:
    explicit temp_file(const std::string& content)
    {
        const char* dir = getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_input.XXXXXX";
        int fd = mkstemp(&path[0]);
        FUZZ_CHECK(fd >= 0, "cannot create %s", path.c_str());
        FUZZ_CHECK(write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()),
                   "cannot write %s", path.c_str());
        close(fd);
    }
    ~temp_file() { unlink(path.c_str()); }
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;

    std::string path;
};
