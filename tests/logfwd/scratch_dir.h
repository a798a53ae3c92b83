// SPDX-License-Identifier: Apache-2.0
// scratch_dir.h: a private temporary folder for one test, removed with it.
#pragma once

#include <string>

class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return root; }
    // Writes content (bytes as given) to path()/name; returns the full path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string root;
};

// The whole content of a file, or "" when it cannot be read.
std::string read_whole_file(const std::string& path);
