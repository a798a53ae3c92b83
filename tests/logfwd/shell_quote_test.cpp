// SPDX-License-Identifier: Apache-2.0
// The shell quoter: exact quoted texts, and the real /bin/sh giving back every
// nasty name unchanged as one word, without running anything inside it.
#include <gtest/gtest.h>

#include <string>

#include "scratch_dir.h"
#include "shell_quote.h"
#include "tools.h"

namespace {
struct quote_case {
    std::string text;
    std::string quoted;
};

const quote_case QUOTE_CASES[] = {
    {"messages.1.gz", "'messages.1.gz'"},
    {"", "''"},
    {"a b\tc", "'a b\tc'"},
    {"it's", "'it'\\''s'"},
    {"''", "''\\'''\\'''"},
    {"say \"hi\"", "'say \"hi\"'"},
    {"a; touch canary", "'a; touch canary'"},
    {"$(touch canary) `touch canary` $HOME", "'$(touch canary) `touch canary` $HOME'"},
    {"line\nbreak", "'line\nbreak'"},
    {"-rf", "'-rf'"},
    {"back\\slash*?[x]~", "'back\\slash*?[x]~'"},
};

TEST(shell_quote, writes_one_single_quoted_word)
{
    for (const quote_case& c : QUOTE_CASES)
        EXPECT_EQ(shell_quote(c.text), c.quoted) << c.text;
}

TEST(shell_quote, reaches_a_program_as_its_one_argument_unchanged)
{
    const scratch_dir folder;
    const std::string out = folder.path() + "/out";
    for (const quote_case& c : QUOTE_CASES) {
        // printf prints its second argument once per extra argument: a split word would show.
        const std::string command = "cd " + shell_quote(folder.path()) + " && printf '<%s>' " +
                                    shell_quote(c.text) + " > " + shell_quote(out);
        ASSERT_EQ(Tools::ExecuteShellCommand(command.c_str()), 0) << c.text;
        EXPECT_EQ(read_whole_file(out), "<" + c.text + ">");
    }
    EXPECT_FALSE(FileHelper::FileExists((folder.path() + "/canary").c_str()));
}
}  // namespace
