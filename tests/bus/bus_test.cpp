// SPDX-License-Identifier: Apache-2.0
// The MQTT bus stand-in against a real broker: topics of odd FIDs, delivery
// of everything that has arrived in one pass, replies from handlers, unknown
// types, the bounded queue while the broker is away, and reconnection.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "broker_fixture.h"
#include "mqtt_link.h"
#include "sbapi.h"
#include "sbapi_mqtt_testing.h"

namespace {
std::vector<std::string> handled_1500;
std::vector<std::string> handled_2000;

sbapi_RetVal record_1500(const std::string& message)
{
    handled_1500.push_back(message);
    return 0;
}

sbapi_RetVal record_2000(const std::string& message)
{
    handled_2000.push_back(message);
    return 0;
}

sbapi_RetVal reply_2000(const std::string& message)
{
    return sbapi_sendMessage_2001(message);
}

std::string numbered(int n)
{
    return R"({"fid":"dev","n":)" + std::to_string(n) + "}";
}

std::vector<std::string> payloads_on(const std::vector<received_message>& received, const std::string& topic)
{
    std::vector<std::string> payloads;
    for (const auto& [t, payload] : received)
        if (t == topic)
            payloads.push_back(payload);
    return payloads;
}

class bus_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        handled_1500.clear();
        handled_2000.clear();
        sbapi_mqtt_reset();
        ASSERT_TRUE(broker_.start());
        setenv("SBAPI_BROKER", broker_.address().c_str(), 1);
        peer_ = std::make_unique<bus_peer>(broker_);
        ASSERT_TRUE(peer_->wait_subscribed());
    }

    void TearDown() override
    {
        sbapi_mqtt_reset();
        peer_.reset();
        unsetenv("SBAPI_BROKER");
    }

    size_t count_on(const std::string& topic) { return payloads_on(peer_->received(), topic).size(); }

    // The device "dev" announces itself; true once the peer has the message.
    bool announce()
    {
        if (sbapi_sendMessage_1500(R"({"fid":"dev","cstate":1})") != 0)
            return false;
        return pump_until([&] { return count_on("sbapi/dev/up/1500") == 1; });
    }

    // Publishes to the device and waits for the broker to have passed it on:
    // the peer, subscribed to sbapi/# too, gets its copies in the same round
    // of the broker's, so once it has the last one the device's are on their
    // way; a short pause covers the rest of that round.
    void publish_all(const std::vector<std::pair<std::string, std::string>>& messages)
    {
        size_t before = peer_->received().size();
        for (const auto& [topic, payload] : messages)
            ASSERT_TRUE(peer_->publish(topic, payload));
        ASSERT_TRUE(peer_->wait_for([&](const std::vector<received_message>& got) {
            return got.size() >= before + messages.size() && got.back() == messages.back();
        }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    test_broker broker_;
    std::unique_ptr<bus_peer> peer_;
};

TEST_F(bus_fixture, odd_fid_is_percent_encoded_in_both_directions)
{
    const std::string body = R"({"fid":"a/b+c#d%e\u0000f g","cstate":1})";
    const std::string level = "a%2Fb%2Bc%23d%25e%00f g";
    sbapi_setCallback_1500(record_1500);
    ASSERT_EQ(sbapi_sendMessage_1500(body), 0);
    ASSERT_TRUE(pump_until([&] { return count_on("sbapi/" + level + "/up/1500") == 1; }));
    EXPECT_EQ(payloads_on(peer_->received(), "sbapi/" + level + "/up/1500")[0], body);

    ASSERT_TRUE(peer_->publish("sbapi/" + level + "/down/1500", R"({"valid":true})"));
    ASSERT_TRUE(pump_until([] { return handled_1500.size() == 1; }));
    EXPECT_EQ(handled_1500[0], R"({"valid":true})");
}

TEST_F(bus_fixture, fid_bytes_outside_utf8_read_as_latin1_raw_or_escaped)
{
    // e9 't' e9 as raw bytes, and as devsim escapes them: both name the FID "\u00e9t\u00e9".
    const std::string topic = "sbapi/%C3%A9t%C3%A9/up/1500";
    const std::vector<std::string> bodies = {"{\"fid\":\"\xe9t\xe9\",\"cstate\":1}",
                                             R"({"fid":"\u00e9t\u00e9","cstate":1})"};
    for (size_t n = 0; n < bodies.size(); ++n) {
        sbapi_mqtt_reset();
        ASSERT_EQ(sbapi_sendMessage_1500(bodies[n]), 0);
        ASSERT_TRUE(pump_until([&] { return count_on(topic) == n + 1; }));
        EXPECT_EQ(payloads_on(peer_->received(), topic)[n], bodies[n]);
    }
}

TEST_F(bus_fixture, one_pass_delivers_every_message_that_has_arrived_in_order)
{
    ASSERT_TRUE(announce());
    sbapi_setCallback_2000(record_2000);
    std::vector<std::pair<std::string, std::string>> requests;
    std::vector<std::string> expected;
    for (int n = 0; n < 50; ++n) {
        requests.emplace_back("sbapi/dev/down/2000", numbered(n));
        expected.push_back(numbered(n));
    }
    publish_all(requests);
    sbapi_doWork();
    EXPECT_EQ(handled_2000, expected);
}

TEST_F(bus_fixture, arrivals_beyond_the_bound_wait_for_no_pass_and_are_dropped_with_a_trace)
{
    ASSERT_TRUE(announce());
    sbapi_setCallback_2000(record_2000);
    testing::internal::CaptureStderr();
    publish_all(std::vector<std::pair<std::string, std::string>>(INBOX_LIMIT + 1, {"sbapi/dev/down/2000", "{}"}));
    sbapi_doWork();
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handled_2000.size(), INBOX_LIMIT);
    EXPECT_NE(trace.find(" 2 sbapi_mqtt:"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" on_message: 10000 messages wait for device \"dev\"; dropped the newest, on "
                         "sbapi/dev/down/2000\n"), std::string::npos) << trace;
}

TEST_F(bus_fixture, a_reply_sent_from_a_handler_leaves_in_the_same_pass)
{
    ASSERT_TRUE(announce());
    sbapi_setCallback_2000(reply_2000);
    publish_all({{"sbapi/dev/down/2000", R"({"ref_id":"r1"})"}});
    sbapi_doWork();  // and no further pass
    EXPECT_TRUE(peer_->wait_for([](const std::vector<received_message>& received) {
        return payloads_on(received, "sbapi/dev/up/2001") == std::vector<std::string>{R"({"ref_id":"r1"})"};
    }));
}

TEST_F(bus_fixture, a_message_without_a_handler_is_dropped_with_a_trace)
{
    ASSERT_TRUE(announce());
    sbapi_setCallback_2000(record_2000);
    publish_all({{"sbapi/dev/down/777", "{}"},
                 {"sbapi/dev/down/abc", "{}"},
                 {"sbapi/dev/down/1500", R"({"valid":true})"},
                 {"sbapi/dev/down/2000", R"({"n":1})"}});
    testing::internal::CaptureStderr();
    sbapi_doWork();
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handled_2000, std::vector<std::string>{R"({"n":1})"});
    for (const char* type : {"777", "abc", "1500"})
        EXPECT_NE(trace.find(std::string(" deliver: no handler for sbapi/dev/down/") + type + "; message dropped\n"),
                  std::string::npos)
            << trace;
}

TEST_F(bus_fixture, a_first_message_without_fid_is_not_sent)
{
    testing::internal::CaptureStderr();
    EXPECT_NE(sbapi_sendMessage_2("{}"), 0);
    EXPECT_NE(sbapi_sendMessage_2("not json"), 0);
    EXPECT_NE(sbapi_sendMessage_2(R"({"fid":7})"), 0);
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_NE(trace.find("message 2 names no \"fid\", so the device has no topic yet; not sent\n"),
              std::string::npos)
        << trace;
    ASSERT_TRUE(announce());
    EXPECT_EQ(count_on("sbapi/dev/up/2"), 0u);
}

TEST_F(bus_fixture, while_the_broker_is_away_the_queue_keeps_the_newest_in_order)
{
    broker_.stop();
    testing::internal::CaptureStderr();
    for (int n = 0; n <= static_cast<int>(OUTBOX_LIMIT); ++n)
        ASSERT_EQ(sbapi_sendMessage_2(numbered(n)), 0);
    sbapi_doWork();
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_NE(trace.find(" link_send: 10000 messages wait for broker " + broker_.address() +
                         "; dropped the oldest\n"),
              std::string::npos)
        << trace;

    ASSERT_TRUE(broker_.start());
    ASSERT_TRUE(peer_->wait_subscribed());
    ASSERT_TRUE(pump_until([&] { return count_on("sbapi/dev/up/2") >= OUTBOX_LIMIT; }, std::chrono::seconds(60)));
    std::vector<std::string> got = payloads_on(peer_->received(), "sbapi/dev/up/2");
    ASSERT_EQ(got.size(), OUTBOX_LIMIT);
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], numbered(static_cast<int>(i) + 1)) << "at " << i;
}

TEST_F(bus_fixture, after_a_broker_restart_messages_follow_in_order_and_handlers_get_messages_again)
{
    std::vector<std::string> expected;
    for (int n = 1; n <= 5; ++n) {
        expected.push_back(numbered(n));
        ASSERT_EQ(sbapi_sendMessage_2(numbered(n)), 0);
    }
    ASSERT_TRUE(pump_until([&] { return count_on("sbapi/dev/up/2") == 5; }));
    // Acknowledged after the peer's own acknowledgements: the broker re-sends it nothing after the restart.
    ASSERT_TRUE(peer_->publish("sync", ""));

    broker_.stop();
    ASSERT_EQ(sbapi_sendMessage_2(numbered(6)), 0);  // before the stand-in has noticed
    pump_until([] { return false; }, std::chrono::seconds(1));
    for (int n = 7; n <= 10; ++n)
        ASSERT_EQ(sbapi_sendMessage_2(numbered(n)), 0);
    for (int n = 6; n <= 10; ++n)
        expected.push_back(numbered(n));
    ASSERT_TRUE(broker_.start());
    ASSERT_TRUE(peer_->wait_subscribed());
    ASSERT_TRUE(pump_until([&] { return count_on("sbapi/dev/up/2") >= 10; }));
    pump_until([] { return false; }, std::chrono::seconds(1));  // nothing more may follow
    EXPECT_EQ(payloads_on(peer_->received(), "sbapi/dev/up/2"), expected);

    sbapi_setCallback_1500(record_1500);
    ASSERT_TRUE(peer_->publish("sbapi/dev/down/1500", R"({"valid":true})"));
    ASSERT_TRUE(pump_until([] { return handled_1500.size() == 1; }));
}
}  // namespace
