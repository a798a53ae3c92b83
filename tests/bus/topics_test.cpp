// SPDX-License-Identifier: Apache-2.0
// The bus stand-in's names: topic levels, the device's topics, the type of
// an arriving message, and the broker address setting.
#include <gtest/gtest.h>

#include "bus_topics.h"

namespace {
struct level_case {
    std::string fid;
    std::string level;
};

TEST(BusTopics, topic_level_encodes_what_mqtt_reserves)
{
    const level_case cases[] = {
        {"DEVFID", "DEVFID"},
        {"a/b", "a%2Fb"},
        {"+#", "%2B%23"},
        {"100%", "100%25"},
        {std::string("a\0b", 3), "a%00b"},
        {"tab\there\n", "tab%09here%0A"},
        {"with blank", "with blank"},
        {"Ger\xC3\xA4t", "Ger%C3%A4t"},
        {"\x7F\xFF", "%7F%FF"},
        {"", ""},
        {"%2F", "%252F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(topic_level(c.fid), c.level) << c.fid;
}

TEST(BusTopics, device_topics_carry_the_encoded_fid)
{
    EXPECT_EQ(up_topic("DEVFID", 1500), "sbapi/DEVFID/up/1500");
    EXPECT_EQ(up_topic("a/b", 2001), "sbapi/a%2Fb/up/2001");
    EXPECT_EQ(down_filter("DEVFID"), "sbapi/DEVFID/down/+");
    EXPECT_EQ(down_filter("#"), "sbapi/%23/down/+");
}

struct type_case {
    std::string topic;
    int type;
};

TEST(BusTopics, down_type_reads_only_the_device_s_own_decimal_types)
{
    const type_case cases[] = {
        {"sbapi/a%2Fb/down/1500", 1500},
        {"sbapi/a%2Fb/down/2000", 2000},
        {"sbapi/a%2Fb/down/0", 0},
        {"sbapi/a%2Fb/down/", -1},
        {"sbapi/a%2Fb/down/15x", -1},
        {"sbapi/a%2Fb/down/-1", -1},
        {"sbapi/a%2Fb/down/ 1500", -1},
        {"sbapi/a%2Fb/down/1234567890", -1},
        {"sbapi/a%2Fb/up/1500", -1},
        {"sbapi/other/down/1500", -1},
        {"sbapi/a%2Fb/down/1500/x", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(down_type(c.topic, "a/b"), c.type) << c.topic;
}

TEST(BusTopics, client_id_names_the_device_within_23_bytes)
{
    EXPECT_EQ(client_id("DEV-1", 4194304), "devsim-DEV-1-4194304");
    EXPECT_EQ(client_id("a/bcdefghijklmn", 42), "devsim-a%2Fbcdefghij-42");
    EXPECT_EQ(client_id("abcdefghijk/x", 42), "devsim-abcdefghijk-42");  // not "...%2"
    EXPECT_EQ(longest_topic_size("a/b"), std::string("sbapi/a%2Fb/down/2000").size());
}

struct address_case {
    const char* setting;
    std::string host;  // empty: invalid
    int port;
};

TEST(BusTopics, broker_address_reads_the_forms_and_refuses_the_rest)
{
    const address_case cases[] = {
        {nullptr, "127.0.0.1", 1883},
        {"", "127.0.0.1", 1883},
        {"broker.local", "broker.local", 1883},
        {"10.0.0.2:1999", "10.0.0.2", 1999},
        {":1999", "127.0.0.1", 1999},
        {"host:65535", "host", 65535},
        {"[::1]:1884", "::1", 1884},
        {"[fe80::1%eth0]", "fe80::1%eth0", 1883},
        {"::1", "::1", 1883},
        {"host:", "", 0},
        {"host:0", "", 0},
        {"host:65536", "", 0},
        {"127.0.0.1:1884x", "", 0},
        {"[::1]x", "", 0},
        {"[::1", "", 0},
        {"host:1:2", "", 0},
    };
    for (const auto& c : cases) {
        std::string why;
        std::optional<broker_endpoint> a = broker_address(c.setting, why);
        const char* setting = c.setting ? c.setting : "(null)";
        EXPECT_EQ(a ? a->host : "", c.host) << setting;
        EXPECT_EQ(a ? a->port : 0, c.port) << setting;
        EXPECT_EQ(why.empty(), a.has_value()) << setting;
    }
}
}  // namespace
