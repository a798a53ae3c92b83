// SPDX-License-Identifier: Apache-2.0
// logfwd's own check of its settings file: each text and the refusal it gets.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "settings.h"

namespace {
std::string unknown(const std::string& key, const std::string& known)
{
    return "Unknown key \"" + key + "\" in /etc/orvane/syslog_settings (did you mean \"" + known +
           "\"?)";
}

TEST(SettingsCheck, refuses_long_lines_and_near_misses_only)
{
    const std::string line_4096 = "ca_file = " + std::string(4086, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"host = a\nprotocol: tls\nport=1\nrate = 2\nca_file = c\ncert_file = d\nkey_file = e\n", ""},
        {"hostname = a\nhosts_allow = b\nframing = lf\nname = c\nhome = d\n", ""},
        {"# Host = a\n; Port = 1\n[Rate]\nProtocol tls\nnote ; Port = 1\nhost = a ;Port = 1\n", ""},
        {"Host = a\n", unknown("Host", "host")},
        {"\xEF\xBB\xBF  PROTOCOL\t= tls\n", unknown("PROTOCOL", "protocol")},
        {"CA-File: x\n", unknown("CA-File", "ca_file")},
        {"protcol = tls\n", unknown("protcol", "protocol")},
        {"prot = 6514\n", unknown("prot", "port")},
        {"cert_fiel = x\n", unknown("cert_fiel", "cert_file")},
        {"Framing = lf\n", unknown("Framing", "framing")},
        {line_4096 + "\n" + line_4096, ""},
        {"host = a\n\n" + line_4096 + "y\nHost = b\n", "Line 3 of /etc/orvane/syslog_settings is too long"},
    };
    for (const auto& [text, refusal] : cases) {
        std::istringstream file(text);
        EXPECT_EQ(settings_refusal(file), refusal) << text.substr(0, 80);
    }
}
}  // namespace
