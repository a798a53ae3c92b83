// SPDX-License-Identifier: Apache-2.0
// A scratch folder per test under the system's temporary directory, so that
// tests never share files and leave nothing behind.
#include "scratch_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

scratch_dir::scratch_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "logfwd-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    root = pattern;
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string scratch_dir::write(const std::string& name, const std::string& content) const
{
    const std::string full = root + "/" + name;
    std::ofstream out(full, std::ios::binary);
    out << content;
    return full;
}

std::string read_whole_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
