// SPDX-License-Identifier: Apache-2.0
// The tools library stand-in as logfwd relies on it: settings files and the
// file test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scratch_dir.h"
#include "tools.h"

namespace {
struct setting_case {
    const char* what;
    std::string text;
    bool has_host;
    std::string host;
};

TEST(ConfigFile, reads_key_value_lines)
{
    const setting_case cases[] = {
        {"plain", "host = 10.0.0.1\n", true, "10.0.0.1"},
        {"blanks trimmed", "  \thost\t =   syslog.local  \t\n", true, "syslog.local"},
        {"no blanks", "host=::1", true, "::1"},
        {"comment lines", "# host = a\n; host = b\n", false, ""},
        {"comment after the value", "host = c ; the old one\n", true, "c"},
        {"semicolon inside a value", "host = c;d\n", true, "c;d"},
        {"hash inside a value", "host = c#d\n", true, "c#d"},
        {"last repeated key wins", "host = a\nhost = b\n", true, "b"},
        {"sections ignored", "[one]\nhost = a\n[two]\nport = 1\n", true, "a"},
        {"indented line after another key", "port = 514\n  host = a\n", true, "a"},
        {"empty value", "host =\n", true, ""},
        {"CR LF lines", "host = a\r\nport = 1\r\n", true, "a"},
        {"line without =", "host\n", false, ""},
        {"other keys only", "hostname = a\nHOST = b\n", false, ""},
        {"a long line read whole", "host = a\nhost =" + std::string(300, ' ') + std::string(300, 'b') + " ; c\n",
         true, std::string(300, 'b')},
        {"a long line's blanks", "\v\fhost" + std::string(300, ' ') + ": a;" + std::string(300, 'b') + "\n", true,
         "a;" + std::string(300, 'b')},
    };
    const scratch_dir folder;
    for (const setting_case& c : cases) {
        const ConfigFile settings(folder.write("settings", c.text));
        EXPECT_EQ(settings.ContainsKey("host"), c.has_host) << c.what;
        EXPECT_EQ(settings["host"], c.host) << c.what;
    }
}

TEST(ConfigFile, gives_no_keys_for_a_missing_file)
{
    const ConfigFile settings("/no/such/settings");
    EXPECT_FALSE(settings.ContainsKey("host"));
    EXPECT_EQ(settings["host"], "");
}

TEST(FileHelper, finds_regular_files_only)
{
    const scratch_dir folder;
    const std::string file = folder.write("file", "x");
    std::filesystem::create_symlink(file, folder.path() + "/link");
    std::filesystem::create_symlink(folder.path() + "/gone", folder.path() + "/dangling");
    EXPECT_TRUE(FileHelper::FileExists(file.c_str()));
    EXPECT_TRUE(FileHelper::FileExists((folder.path() + "/link").c_str()));
    EXPECT_FALSE(FileHelper::FileExists((folder.path() + "/dangling").c_str()));
    EXPECT_FALSE(FileHelper::FileExists(folder.path().c_str()));
    EXPECT_FALSE(FileHelper::FileExists((folder.path() + "/missing").c_str()));
    EXPECT_FALSE(FileHelper::FileExists(nullptr));
}
}  // namespace
