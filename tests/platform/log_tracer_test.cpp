// SPDX-License-Identifier: Apache-2.0
// The tracer stand-in's record layout, and records that stay one line whatever they carry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "log_tracer.h"

namespace {
// What the tracer writes to standard error while fn runs.
template <typename Fn>
std::string traced(Fn fn)
{
    char path[] = "/tmp/tracer_test_XXXXXX";
    int fd = mkstemp(path);
    int saved = dup(STDERR_FILENO);
    dup2(fd, STDERR_FILENO);
    fn();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(fd);
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
}

// The record without its time stamp (the first word).
std::string without_time(const std::string& record)
{
    return record.substr(record.find(' ') + 1);
}
}  // namespace

TEST(log_tracer, record_layout)
{
    initLogTracer("devsim", "CTRL1");
    std::string out = traced([] { logTracePrint("devsim_main", 516, "main", 5, "starting %s %d\n", "x", 7); });
    EXPECT_EQ(without_time(out), "devsim CTRL1 5 devsim_main:516 main: starting x 7\n");
    // 2026-12-08T09:30:05.123Z
    ASSERT_GE(out.size(), 25u);
    EXPECT_EQ(out[10], 'T');
    EXPECT_EQ(out.substr(23, 2), "Z ");
}

TEST(log_tracer, control_characters_cannot_split_a_record)
{
    initLogTracer("devsim", "CTRL1");
    std::string out = traced([] {
        logTracePrint("devsim_main", 471, "callback_msgtype_2000", 2, "sequence_id \"%s\" not handled\n",
                      "x\n2026-01-01T00:00:00.000Z devsim CTRL1 6 forged\r\x1b");
        logTracePrint("devsim_main", 1, "f", 2, "no newline at the end");
    });
    std::istringstream lines(out);
    std::string first, second, third;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, third));
    EXPECT_EQ(without_time(first),
              "devsim CTRL1 2 devsim_main:471 callback_msgtype_2000: sequence_id \"x\\x0a2026-01-01T00:00:00.000Z "
              "devsim CTRL1 6 forged\\x0d\\x1b\" not handled");
    EXPECT_EQ(without_time(second), "devsim CTRL1 2 devsim_main:1 f: no newline at the end");
}
