// Replays the datagram fuzz target over generated lines built from the bytes
// that matter to the splitter, so that it runs where libFuzzer is absent.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
TEST(datagram_fuzz, replays_generated_lines)
{
    const std::string pieces[] = {" ", ":", ": ", "user.info", "user.err", "x", "\r", "\xff",
                                  std::string(1, '\0'), "@@@UnfindableSeparator@@@", "Jan", "12"};
    std::mt19937 generator(20240601);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        for (int n = length(generator); n > 0; --n)
            line += pieces[pick(generator)];
        ASSERT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(line.data()), line.size()), 0);
    }
}
}  // namespace
