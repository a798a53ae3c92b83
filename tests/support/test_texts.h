// SPDX-License-Identifier: Apache-2.0
// test_texts.h: the C++ tests' one copy of each shared text and text helper.
// The table menu page and the broker settings live in files beside this one,
// which the end-to-end tests read too.
#pragma once

#include <string>

// The home layout: references 0 and 32770.
const std::string HOME_PAGE = R"({"layout":"home"})";
// The table menu page (references 1 and 32769), from table_page.json.
const std::string& table_page();
// The brokers' settings beside their listener, from mosquitto.conf.
std::string broker_settings();

// True when text is one complete JSON text.
bool parses_as_json(const std::string& text);
// piece, times times over.
std::string repeat(const std::string& piece, int times);
