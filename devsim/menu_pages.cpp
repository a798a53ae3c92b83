// SPDX-License-Identifier: Apache-2.0
// The menu pages that the device offers: the home layout and one table menu
// page with a headline, two actions and two editable entries, all fixed
// sample content. Pages are built from the leaves up, since adding a child
// copies its text: every object is complete before it reaches its parent.
#include "menu_pages.h"

#include "devsim_trace.h"
#include "json_document.h"
#include "log_tracer.h"

namespace {
const int MENU_HOME = 0;
const int MENU_TABLE = 1;
const int MENU_TABLE_EDIT = 0x8001;  // the entries' edit dialogs come back here
const int MENU_HOME_POLLED = 0x8002;

const char* const UNIT_OF_VALUES = "8503d0cf-1438-49c3-8201-2f4c0e36c49d";
const char* const UNIT_ALTERNATIVE = "30d9f576-a6d2-4439-9907-7e147af64508";

void add_menu_reference(Json& parent, int reference, int poll_status)
{
    Json target(JSON_OBJECT);
    json_add_int(target, "reference", reference);
    json_add_int(target, "poll_status", poll_status);
    json_add_nested(parent, "menu_reference", target);
}

void add_text_cell(Json& parent, const std::string& key, const std::string& text)
{
    Json cell(JSON_OBJECT);
    json_add_string(cell, "text", text);
    json_add_nested(parent, key, cell);
}

// A cell whose text the receiver looks up: in the common table by number,
// or the unit's name by unit identifier.
void add_common_text_cell(Json& parent, const std::string& key, int index)
{
    Json number(JSON_OBJECT);
    json_add_string(number, "db", "common");
    json_add_int(number, "index", index);
    Json cell(JSON_OBJECT);
    json_add_nested(cell, "text_number", number);
    json_add_nested(parent, key, cell);
}

void add_unit_text_cell(Json& parent, const std::string& key, const std::string& unit)
{
    Json number(JSON_OBJECT);
    json_add_string(number, "db", "unit");
    json_add_string(number, "index", unit);
    Json cell(JSON_OBJECT);
    json_add_nested(cell, "text_number", number);
    json_add_nested(parent, key, cell);
}

// Headlines have the right-hand cell only.
void add_common_headline(Json& parent, int index)
{
    Json headline(JSON_OBJECT);
    add_common_text_cell(headline, "right", index);
    json_add_nested(parent, "headline", headline);
}

void add_text_headline(Json& parent, const std::string& text)
{
    Json headline(JSON_OBJECT);
    add_text_cell(headline, "right", text);
    json_add_nested(parent, "headline", headline);
}

void add_action(Json& actions, const std::string& name, int reference, int poll_status)
{
    Json action(JSON_OBJECT);
    json_add_string(action, "name", name);
    json_add_int(action, "enabled", 1);
    add_menu_reference(action, reference, poll_status);
    json_add_element(actions, action);
}

void add_tagged_value(Json& parent, int tag, const std::string& value)
{
    Json tagged(JSON_OBJECT);
    json_add_int(tagged, "tag", tag);
    json_add_string(tagged, "value", value);
    json_add_nested(parent, "value", tagged);
}

// The members between the headline and the editor, the same in both dialogs.
void add_dialog_target(Json& dialog)
{
    json_add_int(dialog, "protection", 0);
    add_menu_reference(dialog, MENU_TABLE_EDIT, 0);
}

void add_entry(Json& content, Json& text, Json& dialog)
{
    Json entry(JSON_OBJECT);
    json_add_nested(entry, "text", text);
    json_add_int(entry, "type", 2);
    json_add_int(entry, "fixed", 0);
    json_add_nested(entry, "edit_data", dialog);
    json_add_element(content, entry);
}

void add_text_format(Json& data)
{
    Json format(JSON_OBJECT);
    json_add_int(format, "dp", 0);
    json_add_int(format, "prec", 0);
    json_add_int(format, "len", 16);
    json_add_int(format, "dpl", 0);
    json_add_nested(data, "format", format);
}

void add_text_editor(Json& dialog)
{
    Json data(JSON_OBJECT);
    add_tagged_value(data, 13, "1577343_");
    json_add_int(data, "idd", 4);
    add_text_format(data);
    Json edit(JSON_OBJECT);
    json_add_nested(edit, "data", data);
    json_add_int(edit, "update", 0);
    add_text_cell(edit, "info_text", "sample text 3");
    json_add_nested(dialog, "edit", edit);
}

// The displayed value keeps two trailing blanks; the edited value has none.
void add_text_entry(Json& content)
{
    Json text(JSON_OBJECT);
    add_text_cell(text, "left", "sample text 1");
    add_text_cell(text, "right", "1577343_  ");
    Json dialog(JSON_OBJECT);
    json_add_string(dialog, "edit_type", "edit");
    add_text_headline(dialog, "sample text 2");
    add_dialog_target(dialog);
    add_text_editor(dialog);
    add_entry(content, text, dialog);
}

void add_selection_item(Json& items, const std::string& unit, int value_ref)
{
    Json text(JSON_OBJECT);
    add_unit_text_cell(text, "right", unit);
    Json item(JSON_OBJECT);
    json_add_nested(item, "text", text);
    json_add_int(item, "value_ref", value_ref);
    json_add_element(items, item);
}

// The current choice is the text "0"; the items' value_ref are numbers.
void add_unit_selector(Json& dialog)
{
    Json index(JSON_OBJECT);
    add_tagged_value(index, 12, "0");
    json_add_int(index, "idd", 2);
    Json items(JSON_ARRAY);
    add_selection_item(items, UNIT_OF_VALUES, 0);
    add_selection_item(items, UNIT_ALTERNATIVE, 1);
    Json selection(JSON_OBJECT);
    json_add_nested(selection, "index", index);
    json_add_nested(selection, "items", items);
    json_add_int(selection, "multi_select", 0);
    json_add_nested(dialog, "selection_list", selection);
}

void add_unit_entry(Json& content)
{
    Json text(JSON_OBJECT);
    add_common_text_cell(text, "left", 562);
    add_unit_text_cell(text, "right", UNIT_OF_VALUES);
    Json dialog(JSON_OBJECT);
    json_add_string(dialog, "edit_type", "selection_list");
    add_common_headline(dialog, 562);
    add_dialog_target(dialog);
    add_unit_selector(dialog);
    add_entry(content, text, dialog);
}

void add_table_body(Json& page)
{
    Json actions(JSON_ARRAY);
    add_action(actions, "BACK", MENU_HOME, 0);
    add_action(actions, "HOME", MENU_HOME_POLLED, 1);
    Json content(JSON_ARRAY);
    add_text_entry(content);
    add_unit_entry(content);
    Json body(JSON_OBJECT);
    add_menu_reference(body, MENU_TABLE, 0);
    add_common_headline(body, 11);
    json_add_int(body, "protection", 0);
    json_add_nested(body, "actions", actions);
    json_add_nested(body, "content", content);
    json_add_nested(page, "table_menu", body);
}
}  // namespace

bool build_table_menu_page(Json& page)
{
    json_add_string(page, "edit_type", "edit");
    json_add_string(page, "layout", "table_menu");
    add_table_body(page);
    return true;
}

// Appends to whatever page already holds; an unknown number adds nothing.
bool build_menu_data(Json& page, int menu_reference)
{
    if (menu_reference == MENU_TABLE || menu_reference == MENU_TABLE_EDIT)
        return build_table_menu_page(page);
    if (menu_reference == MENU_HOME || menu_reference == MENU_HOME_POLLED) {
        json_add_string(page, "layout", "home");
        return true;
    }
    logTracePrint(TRACE_SOURCE, LINE_PAGE_NOT_HANDLED, "build_menu_data", TRACE_CRITICAL, "menu_reference %d not handled\n",
                  menu_reference);
    return false;
}
