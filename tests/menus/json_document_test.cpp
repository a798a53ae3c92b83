// SPDX-License-Identifier: Apache-2.0
// The Json value and the four adding functions: the exact value text each
// hands to Json::add, seen in the parent's text.
#include <climits>
#include <gtest/gtest.h>

#include "json_document.h"

TEST(JsonDocument, kind_decides_the_empty_text)
{
    const struct {
        int kind;
        const char* text;
    } cases[] = {{JSON_OBJECT, "{}"}, {JSON_ARRAY, "[]"}, {7, "[]"}, {-1, "[]"}};
    for (const auto& c : cases) {
        Json doc(c.kind);
        EXPECT_EQ(doc.kind, c.kind);
        EXPECT_EQ(doc.toString(), c.text) << c.kind;
    }
}

TEST(JsonDocument, add_int_writes_plain_decimal)
{
    const struct {
        int value;
        const char* text;
    } cases[] = {{0, R"({"n":0})"}, {-5, R"({"n":-5})"}, {32770, R"({"n":32770})"},
                 {INT_MIN, R"({"n":-2147483648})"}, {INT_MAX, R"({"n":2147483647})"}};
    for (const auto& c : cases) {
        Json doc(JSON_OBJECT);
        json_add_int(doc, "n", c.value);
        EXPECT_EQ(doc.toString(), c.text);
    }
}

TEST(JsonDocument, add_string_quotes_the_value)
{
    Json doc(JSON_OBJECT);
    json_add_string(doc, "empty", "");
    json_add_string(doc, "layout", "table_menu");
    json_add_string(doc, "blanks", "1577343_  ");
    EXPECT_EQ(doc.toString(), R"({"empty":"","layout":"table_menu","blanks":"1577343_  "})");
}

TEST(JsonDocument, nested_empty_documents)
{
    Json doc(JSON_OBJECT);
    Json object(JSON_OBJECT);
    Json array(JSON_ARRAY);
    json_add_nested(doc, "o", object);
    json_add_nested(doc, "a", array);
    EXPECT_EQ(doc.toString(), R"({"o":{},"a":[]})");
}

TEST(JsonDocument, elements_keep_their_order)
{
    Json items(JSON_ARRAY);
    for (int i = 0; i < 3; ++i) {
        Json item(JSON_OBJECT);
        json_add_int(item, "value_ref", i);
        json_add_element(items, item);
    }
    Json empty(JSON_OBJECT);
    json_add_element(items, empty);
    EXPECT_EQ(items.toString(), R"([{"value_ref":0},{"value_ref":1},{"value_ref":2},{}])");
}

TEST(JsonDocument, child_changed_after_adding_leaves_the_parent)
{
    Json parent(JSON_OBJECT);
    Json child(JSON_OBJECT);
    json_add_int(child, "reference", 1);
    json_add_nested(parent, "menu_reference", child);
    Json list(JSON_ARRAY);
    json_add_element(list, child);
    json_add_int(child, "poll_status", 0);
    EXPECT_EQ(parent.toString(), R"({"menu_reference":{"reference":1}})");
    EXPECT_EQ(list.toString(), R"([{"reference":1}])");
    EXPECT_EQ(child.toString(), R"({"reference":1,"poll_status":0})");
}

// The library's own part: members and elements go in before the closing
// bracket, with a comma after the first.
TEST(JsonHelperAdd, appends_raw_values_in_order)
{
    Json array(JSON_ARRAY);
    array.add("1");
    array.add("\"x\"");
    array.add("{\"a\":[]}");
    EXPECT_EQ(array.toString(), R"([1,"x",{"a":[]}])");
    Json object(JSON_OBJECT);
    object.add("a", "true");
    object.add("b", "[1,2]");
    EXPECT_EQ(object.toString(), R"({"a":true,"b":[1,2]})");
}

TEST(JsonHelperAdd, key_is_written_as_a_json_string)
{
    Json object(JSON_OBJECT);
    object.add("say \"hi\"\\", "0");
    EXPECT_EQ(object.toString(), R"({"say \"hi\"\\":0})");
}
