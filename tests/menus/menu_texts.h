// menu_texts.h: the two menu page texts, byte for byte, and the fixture of
// the menu tests: FID "DEVFID" and an empty recording bus.
#pragma once

#include <gtest/gtest.h>
#include <string>

// References 0 and 32770.
const std::string HOME_PAGE = R"({"layout":"home"})";

// References 1 and 32769: one line of 1,419 characters, split here only for reading.
const std::string TABLE_PAGE =
    R"({"edit_type":"edit","layout":"table_menu","table_menu":{"menu_reference":{"reference":1,)"
    R"("poll_status":0},"headline":{"right":{"text_number":{"db":"common","index":11}}},)"
    R"("protection":0,"actions":[{"name":"BACK","enabled":1,"menu_reference":{"reference":0,)"
    R"("poll_status":0}},{"name":"HOME","enabled":1,"menu_reference":{"reference":32770,)"
    R"("poll_status":1}}],"content":[{"text":{"left":{"text":"sample text 1"},)"
    R"("right":{"text":"1577343_  "}},"type":2,"fixed":0,"edit_data":{"edit_type":"edit",)"
    R"("headline":{"right":{"text":"sample text 2"}},"protection":0,)"
    R"("menu_reference":{"reference":32769,"poll_status":0},"edit":{"data":{"value":{"tag":13,)"
    R"("value":"1577343_"},"idd":4,"format":{"dp":0,"prec":0,"len":16,"dpl":0}},"update":0,)"
    R"("info_text":{"text":"sample text 3"}}}},{"text":{"left":{"text_number":{"db":"common",)"
    R"("index":562}},"right":{"text_number":{"db":"unit",)"
    R"("index":"8503d0cf-1438-49c3-8201-2f4c0e36c49d"}}},"type":2,"fixed":0,)"
    R"("edit_data":{"edit_type":"selection_list","headline":{"right":{"text_number":{"db":"common",)"
    R"("index":562}}},"protection":0,"menu_reference":{"reference":32769,"poll_status":0},)"
    R"("selection_list":{"index":{"value":{"tag":12,"value":"0"},"idd":2},)"
    R"("items":[{"text":{"right":{"text_number":{"db":"unit",)"
    R"("index":"8503d0cf-1438-49c3-8201-2f4c0e36c49d"}}},"value_ref":0},)"
    R"({"text":{"right":{"text_number":{"db":"unit",)"
    R"("index":"30d9f576-a6d2-4439-9907-7e147af64508"}}},"value_ref":1}],"multi_select":0}}}]}})";

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override;
};

// True when text is one complete JSON text.
bool parses_as_json(const std::string& text);
