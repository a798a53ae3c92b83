// SPDX-License-Identifier: Apache-2.0
// Menu and settings requests through the registered handler: the exact reply
// of every kind, its handler code and traces, the escaping of echoed values,
// and a failing send.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devsim_trace.h"
#include "devsim_state.h"
#include "menu_dispatcher.h"
#include "menu_texts.h"
#include "recording_platform.h"

namespace {
const std::string MENU_OK = R"({"fid":"DEVFID","sequence_id":"menu_entry","success":1,"ref_id":")";
const std::string SETTINGS_REPLY =
    R"({"fid":"DEVFID","sequence_id":"get_all_settings","success":true,"data":{"parameters":1,)"
    R"("temperature_adjustment":0.100000,"automatic_potassium_compensation":false,)"
    R"("potassium_compensation_value":0.400000,"automatic_chloride_compensation":false,)"
    R"("chloride_compensation_value":0.200000,"response_time":12}})";

struct request_exchange {
    std::string request;
    std::string reply;
    sbapi_RetVal code;
};

const request_exchange EXCHANGES[] = {
    {R"({"sequence_id":"menu_entry","ref_id":"r1","data":{"menu_reference":{"reference":1}}})",
     MENU_OK + R"(r1","data":)" + table_page() + "}", 0},
    {R"({"sequence_id":"menu_edit","ref_id":"r1","data":{"menu_reference":{"reference":1}}})",
     MENU_OK + R"(r1","data":)" + table_page() + "}", 0},
    {R"({"data":{"menu_reference":{"reference":32769,"poll_status":0}},"ref_id":"7","sequence_id":"menu_entry"})",
     MENU_OK + R"(7","data":)" + table_page() + "}", 0},
    {R"({"sequence_id":"menu_entry","ref_id":"home","data":{"menu_reference":{"reference":0}}})",
     MENU_OK + R"(home","data":{"layout":"home"}})", 0},
    {R"({"sequence_id":"menu_edit","ref_id":"","data":{"menu_reference":{"reference":32770}}})",
     MENU_OK + R"(","data":{"layout":"home"}})", 0},
    {R"({"sequence_id":"menu_entry","ref_id":"r5","data":{"menu_reference":{"reference":5}}})",
     R"({"fid":"DEVFID","sequence_id":"menu_entry","success":0,"ref_id":"r5","data":{}})", 0},
    {R"({"sequence_id":"menu_edit","ref_id":"r6"})",
     R"({"fid":"DEVFID","sequence_id":"menu_entry","success":0,"ref_id":"r6","data":{}})", 0},
    {R"({"sequence_id":"get_all_settings","ref_id":"r2"})", SETTINGS_REPLY, 0},
    {R"({"sequence_id":"menu_state_ask","ref_id":"r3"})",
     R"({"fid":"DEVFID","sequence_id":"menu_state_ask","success":true,"ref_id":"r3","data":{"reference":32769}})",
     0},
    {R"({"sequence_id":"set_lock_status","ref_id":"r4","data":{"lock":1}})",
     R"({"fid":"DEVFID","sequence_id":"set_lock_status","success":true,"ref_id":"r4"})", 0},
    {R"({"sequence_id":"Menu_Entry","ref_id":"r5"})",
     R"({"fid":"DEVFID","sequence_id":"Menu_Entry","success":false,"ref_id":"r5","data":{}})", 6},
    {R"({"sequence_id":"menu_entry ","ref_id":"r5"})",
     R"({"fid":"DEVFID","sequence_id":"menu_entry ","success":false,"ref_id":"r5","data":{}})", 6},
    {R"({"data":{}})", R"({"fid":"DEVFID","sequence_id":"","success":false,"ref_id":"","data":{}})", 6},
};

class menu_request_fixture : public menu_fixture {
protected:
    void SetUp() override
    {
        menu_fixture::SetUp();
        sbapi_setCallback_2000(callback_msgtype_2000);
    }

    // Delivers request; the one reply sent for it, which must be JSON.
    std::string answer(const std::string& request, sbapi_RetVal* code = nullptr)
    {
        recording::sent.clear();
        sbapi_RetVal result = recording::deliver(2000, request);
        if (code)
            *code = result;
        auto replies = recording::bodies(2001);
        EXPECT_EQ(recording::sent.size(), 1u) << request.substr(0, 80);
        if (replies.size() != 1)
            return "";
        EXPECT_TRUE(parses_as_json(replies[0])) << replies[0].substr(0, 200);
        return replies[0];
    }
};

struct expected_trace {
    int line;
    int level;
    std::string function;
    std::string format;
    std::string message;
};

expected_trace reference_trace(const std::string& value)
{
    return {LINE_MENU_REFERENCE, 5, "callback_msgtype_2000", "data.menu_reference.reference gives %d\n",
            "data.menu_reference.reference gives " + value + "\n"};
}

expected_trace page_not_handled_trace(const std::string& value)
{
    return {LINE_PAGE_NOT_HANDLED, 2, "build_menu_data", "menu_reference %d not handled\n",
            "menu_reference " + value + " not handled\n"};
}

expected_trace request_not_handled_trace(const std::string& sequence_id)
{
    return {LINE_REQUEST_NOT_HANDLED, 2, "callback_msgtype_2000", "sequence_id \"%s\" not handled\n",
            "sequence_id \"" + sequence_id + "\" not handled\n"};
}

void expect_trace(const recording::trace_record& trace, const expected_trace& expected)
{
    EXPECT_EQ(trace.source_file, "devsim_main");
    EXPECT_EQ(trace.source_line, expected.line);
    EXPECT_EQ(trace.level, expected.level);
    EXPECT_EQ(trace.function, expected.function);
    EXPECT_EQ(trace.format, expected.format);
    EXPECT_EQ(trace.message, expected.message);
}
}  // namespace

TEST_F(menu_request_fixture, every_kind_gets_its_reply_and_code)
{
    for (const auto& exchange : EXCHANGES) {
        sbapi_RetVal code = -100;
        EXPECT_EQ(answer(exchange.request, &code), exchange.reply);
        EXPECT_EQ(code, exchange.code) << exchange.request;
    }
}

// A failed send outranks the handler's own code, whether it handled the request or not.
TEST_F(menu_request_fixture, failed_send_is_passed_on)
{
    const std::string handled = R"({"sequence_id":"menu_state_ask","ref_id":"r3"})";
    const std::string unhandled = R"({"sequence_id":"Menu_Entry","ref_id":"r5"})";
    const struct {
        sbapi_RetVal send_result;
        const std::string& request;
        sbapi_RetVal code;
    } cases[] = {{1, handled, 1}, {-1, handled, -1}, {77, unhandled, 77}, {4, unhandled, 4}, {0, unhandled, 6}};
    for (const auto& c : cases) {
        recording::send_result_2001 = c.send_result;
        sbapi_RetVal code = -100;
        answer(c.request, &code);
        EXPECT_EQ(code, c.code) << c.send_result << " " << c.request;
    }
}

// Menu requests trace their reference, and a page they cannot build once
// more; an unknown sequence_id traces once; the other kinds never trace.
TEST_F(menu_request_fixture, requests_trace_exactly_their_records)
{
    const struct {
        std::string request;
        std::vector<expected_trace> traces;
    } cases[] = {
        {R"({"sequence_id":"menu_edit","data":{"menu_reference":{"reference":32769}}})", {reference_trace("32769")}},
        {R"({"sequence_id":"menu_entry","data":{"menu_reference":{"reference":0}}})", {reference_trace("0")}},
        {R"({"sequence_id":"menu_entry","data":{"menu_reference":{"reference":5}}})",
         {reference_trace("5"), page_not_handled_trace("5")}},
        {R"({"sequence_id":"menu_entry","ref_id":"x"})", {reference_trace("-3"), page_not_handled_trace("-3")}},
        {R"({"sequence_id":"MENU_ENTRY","ref_id":"r"})", {request_not_handled_trace("MENU_ENTRY")}},
        {"{}", {request_not_handled_trace("")}},
        {R"({"sequence_id":"get_all_settings"})", {}},
        {R"({"sequence_id":"menu_state_ask"})", {}},
        {R"({"sequence_id":"set_lock_status"})", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        SetUp();
        answer(c.request);
        EXPECT_EQ(recording::traces.size(), c.traces.size());
        for (size_t i = 0; i < c.traces.size() && i < recording::traces.size(); ++i)
            expect_trace(recording::traces[i], c.traces[i]);
    }
}

// Echoed values and the FID are JSON string content: a request cannot break
// the reply or add members to it.
TEST_F(menu_request_fixture, echoed_values_are_escaped)
{
    const request_exchange cases[] = {
        {R"({"sequence_id":"menu_state_ask","ref_id":"a\"b\\c\n\t\u0001\/"})",
         R"({"fid":"DEVFID","sequence_id":"menu_state_ask","success":true,"ref_id":"a\"b\\c\n\t\u0001/","data":{"reference":32769}})",
         0},
        {R"({"sequence_id":"set_lock_status","ref_id":"\",\"success\":false,\"x\":\""})",
         R"({"fid":"DEVFID","sequence_id":"set_lock_status","success":true,"ref_id":"\",\"success\":false,\"x\":\""})",
         0},
        {R"({"sequence_id":"menu_entry","ref_id":"\"}","data":{"menu_reference":{"reference":0}}})",
         MENU_OK + R"(\"}","data":{"layout":"home"}})", 0},
        {R"({"sequence_id":"x\"}{\\","ref_id":"\r"})",
         R"({"fid":"DEVFID","sequence_id":"x\"}{\\","success":false,"ref_id":"\r","data":{}})", 6},
    };
    for (const auto& c : cases) {
        sbapi_RetVal code = -100;
        std::string reply = answer(c.request, &code);
        EXPECT_EQ(reply, c.reply);
        EXPECT_EQ(code, c.code);
        auto request = nlohmann::json::parse(c.request);
        auto parsed = nlohmann::json::parse(reply);
        EXPECT_EQ(parsed["ref_id"], request["ref_id"]) << reply;
        EXPECT_EQ(parsed.count("x"), 0u);
    }
}

TEST_F(menu_request_fixture, device_fid_is_escaped)
{
    tt.device_fid = "DEV\"FID\\";
    EXPECT_EQ(answer(R"({"sequence_id":"set_lock_status","ref_id":"r"})"),
              R"({"fid":"DEV\"FID\\","sequence_id":"set_lock_status","success":true,"ref_id":"r"})");
}

TEST_F(menu_request_fixture, state_of_the_device_does_not_matter)
{
    for (int state : {DEVICE_STATE_REGISTERING, DEVICE_STATE_ACCEPTED, DEVICE_STATE_STOPPING}) {
        tt.device_state = state;
        for (const auto& exchange : EXCHANGES)
            EXPECT_EQ(answer(exchange.request), exchange.reply);
        EXPECT_EQ(tt.device_state, state);
    }
}
