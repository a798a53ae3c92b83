// SPDX-License-Identifier: Apache-2.0
// Whatever arrives as a request gets exactly one reply that is valid JSON,
// and answering leaves nothing allocated behind. This test binary counts
// live allocations through its own global operator new and delete.
#include <atomic>
#include <cstdlib>
#include <new>

#include "menu_dispatcher.h"
#include "menu_texts.h"
#include "recording_platform.h"

namespace {
std::atomic<long> live_allocations{0};

void release(void* block)
{
    if (block)
        --live_allocations;
    std::free(block);
}
}  // namespace

void* operator new(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++live_allocations;
    return block;
}

void operator delete(void* block) noexcept
{
    release(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    release(block);
}

namespace {
const std::string FAILURE_EMPTY = R"({"fid":"DEVFID","sequence_id":"","success":false,"ref_id":"","data":{}})";
const std::string NO_PAGE_R = R"({"fid":"DEVFID","sequence_id":"menu_entry","success":0,"ref_id":"r","data":{}})";
const std::string MENU_R = R"({"fid":"DEVFID","sequence_id":"menu_entry","success":1,"ref_id":"r","data":)";
const std::string LOCK_BIG = R"({"fid":"DEVFID","sequence_id":"set_lock_status","success":true,"ref_id":"big"})";

std::string menu_request(const std::string& reference)
{
    return R"({"sequence_id":"menu_entry","ref_id":"r","data":{"menu_reference":{"reference":)" + reference +
           "}}}";
}

std::string failure_echo(const std::string& sequence_id)
{
    return R"({"fid":"DEVFID","sequence_id":")" + sequence_id + R"(","success":false,"ref_id":"","data":{}})";
}

struct bad_request {
    const char* what;
    std::string request;
    std::string reply;
    sbapi_RetVal code;
};

const std::string MEGABYTE_PAD = repeat("x", 1 << 20);

const bad_request BAD_REQUESTS[] = {
    {"empty body", "", FAILURE_EMPTY, 6},
    {"malformed", R"({"sequence_id":"menu_entry","ref_id":"r")", FAILURE_EMPTY, 6},
    {"not an object", R"(["menu_entry"])", FAILURE_EMPTY, 6},
    {"trailing garbage", R"({"sequence_id":"set_lock_status"}})", FAILURE_EMPTY, 6},
    {"not UTF-8", "{\"sequence_id\":\"set_lock_status\",\"ref_id\":\"\xff\xfe\"}", FAILURE_EMPTY, 6},
    {"lone surrogate", R"({"sequence_id":"set_lock_status","ref_id":"\ud800"})", FAILURE_EMPTY, 6},
    {"megabyte of padding", R"({"sequence_id":"set_lock_status","ref_id":"big","pad":")" + MEGABYTE_PAD + "\"}",
     LOCK_BIG, 0},
    {"megabyte of letters", MEGABYTE_PAD, FAILURE_EMPTY, 6},
    {"megabyte of brackets", repeat("[", 1 << 20), FAILURE_EMPTY, 6},
    {"5000 nested arrays", menu_request(repeat("[", 5000) + repeat("]", 5000)), FAILURE_EMPTY, 6},
    {"NUL inside the body", R"({"sequence_id":"set_lock_status","ref_id":"big"})" + std::string(1, '\0') + "[[[",
     LOCK_BIG, 0},
    {"long sequence_id", "{\"sequence_id\":\"" + repeat("s", 10000) + "\"}", failure_echo(repeat("s", 49)), 6},
    {"long quoted sequence_id", "{\"sequence_id\":\"" + repeat("\\\"", 10000) + "\"}",
     failure_echo(repeat("\\\"", 49)), 6},
    {"sequence_id cut inside a character", "{\"sequence_id\":\"" + repeat("\xc3\xa9", 5000) + "\"}",
     failure_echo(repeat("\xc3\xa9", 24)), 6},
    {"control characters", R"({"sequence_id":"\u0001\u001f\n"})", failure_echo("\\u0001\\u001f\\n"), 6},
    {"NUL in sequence_id", R"({"sequence_id":"set_lock_status\u0000x","ref_id":"big"})", LOCK_BIG, 0},
    {"numeric sequence_id", R"({"sequence_id":5,"ref_id":"r"})",
     R"({"fid":"DEVFID","sequence_id":"","success":false,"ref_id":"r","data":{}})", 6},
    {"numeric ref_id", R"({"sequence_id":"set_lock_status","ref_id":17})",
     R"({"fid":"DEVFID","sequence_id":"set_lock_status","success":true,"ref_id":""})", 0},
    {"reference as a text", menu_request("\"1\""), NO_PAGE_R, 0},
    {"reference as a float", menu_request("1.0"), MENU_R + table_page() + "}", 0},
    {"reference as a fraction", menu_request("0.5"), MENU_R + HOME_PAGE + "}", 0},
    {"reference with an exponent", menu_request("3.2769e4"), MENU_R + table_page() + "}", 0},
    {"float reference beyond int", menu_request("2147483648.0"), NO_PAGE_R, 0},
    {"reference beyond int", menu_request("4294967297"), NO_PAGE_R, 0},
    {"reference below int", menu_request("-2147483649"), NO_PAGE_R, 0},
    {"reference beyond 64 bits", menu_request("123456789012345678901234567890"), NO_PAGE_R, 0},
    {"reference as null", menu_request("null"), NO_PAGE_R, 0},
    {"reference as an object", menu_request("{\"reference\":1}"), NO_PAGE_R, 0},
    {"reference overflowing double", menu_request("1e400"), FAILURE_EMPTY, 6},
    {"menu_reference not an object", R"({"sequence_id":"menu_entry","ref_id":"r","data":{"menu_reference":1}})",
     NO_PAGE_R, 0},
};

class bad_request_fixture : public menu_fixture {
protected:
    sbapi_RetVal answer(const bad_request& bad)
    {
        recording::sent.clear();
        recording::traces.clear();
        return callback_msgtype_2000(bad.request);
    }
};
}  // namespace

TEST_F(bad_request_fixture, each_gets_one_valid_reply)
{
    for (const auto& bad : BAD_REQUESTS) {
        EXPECT_EQ(answer(bad), bad.code) << bad.what;
        ASSERT_EQ(recording::sent.size(), 1u) << bad.what;
        EXPECT_EQ(recording::sent[0].type, 2001) << bad.what;
        EXPECT_EQ(recording::sent[0].body, bad.reply) << bad.what;
        EXPECT_TRUE(parses_as_json(recording::sent[0].body)) << bad.what;
    }
}

TEST_F(bad_request_fixture, answering_leaves_nothing_allocated)
{
    // A first round lets the recording bus's vectors reach their size.
    for (const auto& bad : BAD_REQUESTS)
        answer(bad);
    recording::sent.clear();
    recording::traces.clear();
    long before = live_allocations;
    for (int round = 0; round < 3; ++round)
        for (const auto& bad : BAD_REQUESTS)
            answer(bad);
    recording::sent.clear();
    recording::traces.clear();
    EXPECT_EQ(live_allocations, before);
}
