// SPDX-License-Identifier: Apache-2.0
// The menu pages by reference number: exact texts, the unhandled numbers'
// trace, and that nothing carries over from one page to the next.
#include "devsim_trace.h"
#include "menu_pages.h"
#include "menu_texts.h"
#include "recording_platform.h"

namespace {
struct page_result {
    bool handled;
    std::string text;
};

page_result page_for(int reference)
{
    Json page(JSON_OBJECT);
    bool handled = build_menu_data(page, reference);
    return {handled, page.toString()};
}
}  // namespace

TEST_F(menu_fixture, handled_references_give_their_page)
{
    const struct {
        int reference;
        const std::string& text;
    } cases[] = {{1, table_page()}, {32769, table_page()}, {0, HOME_PAGE}, {32770, HOME_PAGE}};
    for (const auto& c : cases) {
        page_result result = page_for(c.reference);
        EXPECT_TRUE(result.handled) << c.reference;
        EXPECT_EQ(result.text, c.text) << c.reference;
    }
    EXPECT_TRUE(recording::traces.empty());
}

TEST_F(menu_fixture, other_references_add_nothing_and_trace)
{
    for (int reference : {-3, -1, 2, 5, 32768, 32771, -32769}) {
        SetUp();
        page_result result = page_for(reference);
        EXPECT_FALSE(result.handled) << reference;
        EXPECT_EQ(result.text, "{}") << reference;
        ASSERT_EQ(recording::traces.size(), 1u) << reference;
        const auto& trace = recording::traces[0];
        EXPECT_EQ(trace.source_file, "devsim_main");
        EXPECT_EQ(trace.source_line, LINE_PAGE_NOT_HANDLED);
        EXPECT_EQ(trace.function, "build_menu_data");
        EXPECT_EQ(trace.level, 2);
        EXPECT_EQ(trace.format, "menu_reference %d not handled\n");
        EXPECT_EQ(trace.message, "menu_reference " + std::to_string(reference) + " not handled\n");
    }
}

TEST_F(menu_fixture, pages_do_not_depend_on_earlier_ones)
{
    EXPECT_EQ(page_for(1).text, page_for(1).text);
    std::string before = page_for(1).text;
    EXPECT_EQ(page_for(0).text, HOME_PAGE);
    EXPECT_EQ(page_for(32769).text, before);
    EXPECT_EQ(before, table_page());
}

TEST_F(menu_fixture, pages_are_appended_to_what_the_document_holds)
{
    Json page(JSON_OBJECT);
    page.add("kept", "7");
    EXPECT_TRUE(build_menu_data(page, 32770));
    EXPECT_EQ(page.toString(), R"({"kept":7,"layout":"home"})");
    Json table(JSON_OBJECT);
    EXPECT_TRUE(build_table_menu_page(table));
    EXPECT_EQ(table.toString(), table_page());
}
