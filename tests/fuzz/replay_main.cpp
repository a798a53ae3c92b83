// SPDX-License-Identifier: Apache-2.0
// replay_main.cpp: runs a fuzz target over its seed corpus without libFuzzer,
// so that the oracle also runs in every ordinary build and under qemu-arm,
// where libFuzzer does not exist. Arguments: corpus folders or single files.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
bool is_directory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The files of a folder, sorted, so that every run replays in the same order.
std::vector<std::string> files_in(const std::string& folder)
{
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string path = folder + "/" + entry->d_name;
            if (entry->d_name[0] != '.' && !is_directory(path))
                files.push_back(path);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool replay(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size: reading past it is caught by ASan.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}
}  // namespace

int main(int argc, char** argv)
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> files = is_directory(argv[i]) ? files_in(argv[i])
                                                               : std::vector<std::string>{argv[i]};
        for (const auto& file : files) {
            if (!replay(file)) {
                fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            ++replayed;
        }
    }
    printf("replayed %d inputs\n", replayed);
    // An empty or missing corpus would make the test pass without checking anything.
    return replayed > 0 ? 0 : 1;
}
