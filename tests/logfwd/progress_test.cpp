// SPDX-License-Identifier: Apache-2.0
// The progress line's text, byte for byte: its figures, and the line fitted
// to terminals of odd widths without wrapping.
#include <gtest/gtest.h>

#include <string>

#include "progress.h"

namespace {
const long long SEC = 1000000000LL;

TEST(progress_figures, share_pace_and_estimate_when_known)
{
    EXPECT_EQ(progress_figures(0, -1, -1, 0), "0 lines");
    EXPECT_EQ(progress_figures(10, 500, 1000, SEC / 2), "10 lines, 50% of 1000 B");
    EXPECT_EQ(progress_figures(5000, -1, -1, 2 * SEC), "5000 lines, 2500 lines/s");
    EXPECT_EQ(progress_figures(1000, 25600, 102400, 2 * SEC),
              "1000 lines, 25% of 100.0 KiB, 500 lines/s, 0:06 left");
    EXPECT_EQ(progress_figures(7, 1 << 20, 3LL << 30, 10 * SEC),
              "7 lines, 0% of 3.0 GiB, 0 lines/s, 8:31:50 left");
    EXPECT_EQ(progress_figures(3, 2000, 1000, 3 * SEC), "3 lines, 100% of 1000 B, 1 lines/s");
}

TEST(progress_text, fits_the_terminal_cutting_the_name_first)
{
    const std::string name = "/var/log/messages";
    EXPECT_EQ(progress_text(name, "1 lines", 80), "/var/log/messages: 1 lines");
    EXPECT_EQ(progress_text(name, "1 lines", 27), "/var/log/messages: 1 lines");
    EXPECT_EQ(progress_text(name, "1 lines", 26), ".../log/messages: 1 lines");
    EXPECT_EQ(progress_text(name, "1 lines", 16), "...ges: 1 lines");
    EXPECT_EQ(progress_text(name, "1 lines", 10), "...: 1 li");
    EXPECT_EQ(progress_text(name, "1 lines", 1), "");
    EXPECT_EQ(progress_text(name, "1 lines", 0), "");
    EXPECT_EQ(progress_text("", "slow-mode pause, 42 s left", 12), "slow-mode p");
    EXPECT_EQ(progress_text("a\033[2J\r\xc3\xa9", "1 lines", 80), "a?[2J???: 1 lines");
}
}  // namespace
