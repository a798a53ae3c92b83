// SPDX-License-Identifier: Apache-2.0
// The shared texts of the C++ tests, read from tests/support at run time
// (also under the emulator, which sees the host's files).
#include "test_texts.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {
std::string support_file(const char* name)
{
    std::ifstream in(std::string(TEST_SUPPORT_DIR) + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
}  // namespace

const std::string& table_page()
{
    static const std::string page = [] {
        std::string text = support_file("table_page.json");
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }();
    return page;
}

std::string broker_settings()
{
    return support_file("mosquitto.conf");
}

bool parses_as_json(const std::string& text)
{
    return nlohmann::json::accept(text);
}

std::string repeat(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}
