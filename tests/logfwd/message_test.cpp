// SPDX-License-Identifier: Apache-2.0
// The level table and the message built from each kind of line, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "syslog_message.h"

namespace {
using namespace std::string_literals;

struct priority_case {
    const char* level_word;
    int priority;
};

TEST(level_priority, follows_the_level_table)
{
    const priority_case cases[] = {
        {"user.emerg", 8},   {"user.alert", 9},    {"user.err", 11},    {"user.warn", 12},
        {"user.notice", 13}, {"user.info", 14},    {"user.debug", 15},  {"user.crit", 15},
        {"user.warning", 15}, {"daemon.err", 15},  {"USER.INFO", 15},   {"", 15},
        {"user.info ", 15},
    };
    for (const priority_case& c : cases)
        EXPECT_EQ(level_priority(c.level_word), c.priority) << c.level_word;
}

struct message_case {
    const char* what;
    std::string line;
    std::string message;
};

TEST(build_message, gives_one_message_per_line_byte_for_byte)
{
    const message_case cases[] = {
        {"documented example", "Jan 12 06:30:01 ctrl user.warn app[42]: disk almost full",
         "<12>Jan 12 06:30:01 ctrl app[42]: disk almost full"},
        {"emerg", "Mar 3 23:59:59 h user.emerg init: halt", "<8>Mar 3 23:59:59 h init: halt"},
        {"alert", "Mar 3 23:59:59 h user.alert init: x", "<9>Mar 3 23:59:59 h init: x"},
        {"err", "Mar 3 23:59:59 h user.err init: x", "<11>Mar 3 23:59:59 h init: x"},
        {"notice", "Mar 3 23:59:59 h user.notice init: x", "<13>Mar 3 23:59:59 h init: x"},
        {"info", "Mar 3 23:59:59 h user.info init: x", "<14>Mar 3 23:59:59 h init: x"},
        {"debug", "Mar 3 23:59:59 h user.debug init: x", "<15>Mar 3 23:59:59 h init: x"},
        {"outsider word is not sent either", "Mar 3 23:59:59 h daemon.err init: x",
         "<15>Mar 3 23:59:59 h init: x"},
        {"double-blank day", "Jan  5 06:30:01 ctrl user.info app: up",
         "<14>Jan  5 06:30:01 ctrl app: up"},
        {"tag ends at the first colon-blank", "Jan 12 06:30:01 ctrl user.err kernel: a: b: c",
         "<11>Jan 12 06:30:01 ctrl kernel: a: b: c"},
        {"sentinel text kept whole",
         "Jan 12 06:30:01 ctrl user.info app: x @@@UnfindableSeparator@@@ tail",
         "<14>Jan 12 06:30:01 ctrl app: x @@@UnfindableSeparator@@@ tail"},
        {"carriage return kept", "Jan 12 06:30:01 ctrl user.info app: x\r",
         "<14>Jan 12 06:30:01 ctrl app: x\r"},
        {"NUL bytes and invalid UTF-8 kept", "Jan 12 06:30:01 ctrl user.info app: \0\xff\xfe!"s,
         "<14>Jan 12 06:30:01 ctrl app: \0\xff\xfe!"s},
        {"no tag separator", "Jan 12 06:30:01 ctrl user.alert no tag here",
         "<9>Jan 12 06:30:01 ctrl no tag here"},
        {"empty level word", "Jan 12 06:30:01 ctrl  app: x", "<15>Jan 12 06:30:01 ctrl app: x"},
        {"level word ends the line", "Jan 12 06:30:01 ctrl user.info",
         "<15>Jan 12 06:30:01 ctrl user.info"},
        {"no second colon", "Jan 12 06:30 ctrl user.info app: x",
         "<15>Jan 12 06:30 ctrl user.info app: x"},
        {"no separators", "nothing-to-split", "<15>nothing-to-split"},
        {"blank line", "", "<15>"},
        {"blanks only", "   ", "<15>   "},
    };
    for (const message_case& c : cases)
        EXPECT_EQ(build_message(c.line), c.message) << c.what;
}

TEST(build_message, overwrites_a_reused_string)
{
    std::string message = "left over from a much longer line than the next one";
    build_message(std::string_view("Jan 12 06:30:01 ctrl user.warn a: b"), message);
    EXPECT_EQ(message, "<12>Jan 12 06:30:01 ctrl a: b");
    build_message(std::string_view(""), message);
    EXPECT_EQ(message, "<15>");
}
}  // namespace
