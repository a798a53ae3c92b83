// SPDX-License-Identifier: Apache-2.0
// The bus stand-in's broker lookup, without a name server: numeric hosts are
// taken as they are, and "localhost" (from /etc/hosts) gives its IPv4 address.
#include <gtest/gtest.h>

#include "broker_lookup.h"

namespace {
struct lookup_case {
    std::string host;
    bool numeric;
    std::string address;  // empty: not looked up here, it would need a name server
};

TEST(broker_lookup, numeric_hosts_are_kept_and_names_give_ipv4_first)
{
    const lookup_case cases[] = {
        {"127.0.0.1", true, "127.0.0.1"},
        {"::1", true, "::1"},
        {"localhost", false, "127.0.0.1"},
        {"broker.example", false, ""},
        {"[::1]", false, ""},
        {"127.0.0.1:1883", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_numeric_host(c.host), c.numeric) << c.host;
        if (c.address.empty())
            continue;
        std::string error;
        EXPECT_EQ(numeric_address(c.host, error), c.address) << c.host;
        EXPECT_EQ(error, "") << c.host;
    }
}
}  // namespace
