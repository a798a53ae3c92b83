// SPDX-License-Identifier: Apache-2.0
// Archive names: their numbers, their order, and which directory entries count as archives.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "archive_names.h"
#include "scratch_dir.h"

namespace {
using list = std::vector<std::string>;

struct number_case {
    const char* path;
    int number;
};

TEST(archive_number, reads_the_text_before_the_last_gz_as_strtol_does)
{
    const number_case cases[] = {
        {"/var/log/messages.10.gz", 10},  {"messages.1.gz", 1},
        {"messages.gz", -1},              {"messages", -1},
        {".gz", -1},                      {"./messages.gz", 0},
        {"/var/log/messages.gz", -1},     {"/var/log.d/messages.gz", 0},
        {"messages.old.gz", 0},           {"messages..gz", 0},
        {"messages.+7.gz", 7},            {"messages.-3.gz", -3},
        {"messages. \t42.gz", 42},        {"messages.5x.gz", 5},
        {"messages.3.gz.bak", 3},         {"messages.2.gz.9.gz", 9},
        {"messages.99999999999.gz", INT_MAX}, {"messages.-99999999999.gz", INT_MIN},
    };
    for (const number_case& c : cases)
        EXPECT_EQ(archive_number(c.path), c.number) << c.path;
}

TEST(archive_number_less, compares_numbers_as_signed_integers)
{
    EXPECT_TRUE(archive_number_less("m.2.gz", "m.10.gz"));
    EXPECT_FALSE(archive_number_less("m.10.gz", "m.2.gz"));
    EXPECT_FALSE(archive_number_less("m.2.gz", "x.2.gz"));
    EXPECT_TRUE(archive_number_less("m.gz", "./m.gz"));
}

TEST(order_archive_files, puts_the_highest_number_first_and_minus_one_last)
{
    list archives = {"/l/messages.1.gz", "/l/messages.gz", "/l/messages.10.gz",
                     "/l/messages.2.gz"};
    order_archive_files(archives);
    EXPECT_EQ(archives, (list{"/l/messages.10.gz", "/l/messages.2.gz", "/l/messages.1.gz",
                              "/l/messages.gz"}));
}

TEST(order_archive_files, reverses_the_listing_order_of_equal_numbers)
{
    list archives = {"d/a.old.gz", "d/a.1.gz", "d/b.old.gz", "d/c.old.gz", "d/a.1.gz.bak"};
    order_archive_files(archives);
    EXPECT_EQ(archives, (list{"d/a.1.gz.bak", "d/a.1.gz", "d/c.old.gz", "d/b.old.gz",
                              "d/a.old.gz"}));
}

TEST(decompressed_path, cuts_before_the_last_gz)
{
    EXPECT_EQ(decompressed_path("/l/messages.1.gz"), "/l/messages.1");
    EXPECT_EQ(decompressed_path("/l/messages.3.gz.bak"), "/l/messages.3");
    EXPECT_EQ(decompressed_path("/l.gz/m.2.gz.gz"), "/l.gz/m.2.gz");
}

class list_archive_files_test : public testing::Test {
protected:
    void make(const list& names) const
    {
        for (const std::string& name : names)
            folder.write(name, "");
    }
    scratch_dir folder;
};

TEST_F(list_archive_files_test, keeps_names_with_the_base_name_and_a_dot_and_gz)
{
    make({"messages", "messages.1", "messages.1.gz", "messages.2.gz", "messages.10.gz",
          "other.4.gz", "messages-5.gz"});
    const std::string& d = folder.path();
    EXPECT_EQ(list_archive_files(d + "/messages"),
              (list{d + "/messages.10.gz", d + "/messages.2.gz", d + "/messages.1.gz"}));
}

TEST_F(list_archive_files_test, matches_by_substring_anywhere_in_the_name)
{
    make({"oldmessages.3.gz", "messages.4.gz.bak"});
    std::filesystem::create_directory(folder.path() + "/x.messages.7.gz.d");
    const std::string& d = folder.path();
    EXPECT_EQ(list_archive_files(d + "/messages"),
              (list{d + "/x.messages.7.gz.d", d + "/messages.4.gz.bak", d + "/oldmessages.3.gz"}));
}

TEST_F(list_archive_files_test, takes_every_dotted_gz_name_when_the_path_ends_in_a_slash)
{
    make({"a.2.gz", "b.gz", "c.1", "gz"});
    const std::string& d = folder.path();
    // folder.path() has no "." in it, so b.gz gets -1; "." and ".." hold no ".gz".
    ASSERT_EQ(d.find('.'), std::string::npos);
    EXPECT_EQ(list_archive_files(d + "/"), (list{d + "/a.2.gz", d + "/b.gz"}));
}

TEST_F(list_archive_files_test, uses_the_current_directory_for_a_bare_name)
{
    make({"messages.1.gz", "messages.gz"});
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    const list archives = list_archive_files("messages");
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(archives, (list{"./messages.1.gz", "./messages.gz"}));
}

TEST(list_archive_files, gives_nothing_for_a_missing_directory)
{
    EXPECT_EQ(list_archive_files("/no/such/dir/messages"), list{});
}
}  // namespace
