// SPDX-License-Identifier: Apache-2.0
// json_decodeFromMessage as the device relies on it: texts without quotes,
// cut to the count at a character boundary and NUL-terminated; numbers and
// booleans into the int; anything else leaves both targets as they were.
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>

#include "json_helper.h"
#include "test_texts.h"

namespace {
// A 50-byte text buffer as the device uses it (count 49), with two guard
// bytes behind it that the decode must never touch.
struct text_target {
    char bytes[52];
    text_target() { memset(bytes, '#', sizeof bytes); }
    int decode(const std::string& message, const char* path)
    {
        return json_decodeFromMessage(message.c_str(), path, bytes, nullptr, 49);
    }
    std::string text() const { return std::string(bytes, strnlen(bytes, 50)); }
    bool guards_intact() const { return bytes[50] == '#' && bytes[51] == '#'; }
};

int decode_int(const std::string& message, const char* path, int preset)
{
    int value = preset;
    json_decodeFromMessage(message.c_str(), path, nullptr, &value, 49);
    return value;
}
}  // namespace

TEST(JsonDecode, text_arrives_without_quotes)
{
    text_target target;
    EXPECT_EQ(target.decode(R"({"sequence_id":"menu_entry","ref_id":"r"})", "sequence_id"), 0);
    EXPECT_EQ(target.text(), "menu_entry");
    EXPECT_EQ(target.bytes[10], '\0');
    EXPECT_TRUE(target.guards_intact());
}

TEST(JsonDecode, text_is_cut_to_the_count_at_a_character_boundary)
{
    const std::string e_acute = "\xc3\xa9", euro = "\xe2\x82\xac";
    const struct {
        std::string value;  // as JSON text
        std::string expected;
    } cases[] = {
        {'"' + repeat("a", 49) + '"', repeat("a", 49)},
        {'"' + repeat("b", 10000) + '"', repeat("b", 49)},
        {'"' + repeat("\\\\", 30) + '"', repeat("\\", 30)},
        {'"' + repeat(e_acute, 30) + '"', repeat(e_acute, 24)},  // 49 bytes would split the 25th
        {"\"ab" + repeat("\\u20ac", 17) + '"', "ab" + repeat(euro, 15)},  // 47 bytes: a third is cut
        {"\"x\\u0000y\"", "x"},
    };
    for (const auto& c : cases) {
        text_target target;
        target.decode("{\"k\":" + c.value + "}", "k");
        EXPECT_EQ(target.text(), c.expected) << c.value.substr(0, 60);
        EXPECT_EQ(target.bytes[c.expected.size()], '\0');
        EXPECT_TRUE(target.guards_intact());
    }
}

TEST(JsonDecode, numbers_and_booleans_arrive_in_the_int)
{
    const struct {
        const char* value;
        int expected;
    } cases[] = {{"1", 1},       {"0", 0},        {"32769", 32769},         {"-3", -3},
                 {"true", 1},    {"false", 0},    {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
                 {"1.0", 1},     {"1e0", 1},      {"2.5", 2},               {"-2.5", -2},
                 {"0.5", 0},     {"-0.5", 0},     {"1e3", 1000},            {"2147483647.9", INT_MAX},
                 {"-2147483648.9", INT_MIN}};
    for (const auto& c : cases)
        EXPECT_EQ(decode_int(std::string("{\"k\":") + c.value + "}", "k", 99), c.expected) << c.value;
}

TEST(JsonDecode, unusable_values_leave_the_int)
{
    const char* const messages[] = {
        R"({"other":1})",          R"({"k":"1"})",        R"({"k":2147483648.0})",
        R"({"k":-2147483649.0})",  R"({"k":1e10})",       R"({"k":2147483648})",
        R"({"k":-2147483649})",    R"({"k":18446744073709551616})",
        R"({"k":1e400})",          R"({"k":null})",       R"({"k":[1]})",
        R"({"k":{"a":1}})",        R"({"k":1)",           "",
        "not json",                R"({"k":1} trailing)", "[1]",
        "{\"k\":1,\"s\":\"\xff\"}"};
    for (const char* message : messages)
        EXPECT_EQ(decode_int(message, "k", -3), -3) << message;
}

TEST(JsonDecode, unusable_values_leave_the_text)
{
    const char* const messages[] = {
        R"({"other":"x"})", R"({"k":5})",  R"({"k":true})", R"({"k":null})",
        R"({"k":["x"]})",   R"({"k":"x")", "\"k\"",         "{\"k\":\"\xc3\"}"};
    for (const char* message : messages) {
        text_target target;
        EXPECT_NE(target.decode(message, "k"), 0) << message;
        EXPECT_EQ(target.bytes[0], '#') << message;
        EXPECT_TRUE(target.guards_intact());
    }
}

TEST(JsonDecode, nested_path)
{
    const std::string request = R"({"data":{"menu_reference":{"reference":32770,"x":[1]}},"reference":7})";
    EXPECT_EQ(decode_int(request, "data.menu_reference.reference", -3), 32770);
    EXPECT_EQ(decode_int(request, "reference", -3), 7);
    EXPECT_EQ(decode_int(request, "data.reference", -3), -3);
    EXPECT_EQ(decode_int(request, "data.menu_reference.x.0", -3), -3);
    EXPECT_EQ(decode_int(R"({"data":[{"menu_reference":1}]})", "data.menu_reference", -3), -3);
    EXPECT_EQ(decode_int(R"({"data":{"menu_reference":5}})", "data.menu_reference.reference", -3), -3);
}

// Deeper than 512 levels the message counts as malformed; brackets inside
// strings do not count.
TEST(JsonDecode, nesting_depth_is_bounded)
{
    auto nested = [](int depth) {
        return "{\"k\":1,\"deep\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
    };
    EXPECT_EQ(decode_int(nested(512), "k", -3), 1);
    EXPECT_EQ(decode_int(nested(513), "k", -3), -3);
    EXPECT_EQ(decode_int(std::string(1 << 20, '['), "k", -3), -3);
    const std::string brackets_in_text = "{\"k\":2,\"s\":\"\\\"" + std::string(2000, '[') + "\"}";
    EXPECT_EQ(decode_int(brackets_in_text, "k", -3), 2);
}

TEST(JsonDecode, null_arguments_are_refused)
{
    int value = 4;
    EXPECT_NE(json_decodeFromMessage(nullptr, "k", nullptr, &value, 0), 0);
    EXPECT_NE(json_decodeFromMessage("{\"k\":1}", nullptr, nullptr, &value, 0), 0);
    EXPECT_NE(json_decodeFromMessage("{\"k\":1}", "k", nullptr, nullptr, 0), 0);
    EXPECT_EQ(value, 4);
}
