// SPDX-License-Identifier: Apache-2.0
// Exact bodies of the messages the device sends: announcement, withdrawal,
// name report, status and measurement, built-in and from templates.
#include <cstdlib>
#include <sstream>

#include "devsim_state.h"
#include "devsim_fixture.h"
#include "json_escape.h"
#include "private_mounts.h"
#include "recording_platform.h"
#include "registration.h"
#include "test_messages.h"

namespace {
const char* const MSG2_BUILTIN =
    "{\"fid\":\"DEVFID\",\"time_stamp\":\"TIMESTAMP\",\"wellcast\":{\"measurement_ind\":55,\"service_ind\":7,"
    "\"wellcast_data\":[{\"h_id\":\"0\",\"percent\":60,\"days\":10},{\"h_id\":\"2\",\"percent\":74,\"days\":7},"
    "{\"h_id\":\"4\",\"percent\":95,\"days\":11},{\"h_id\":\"22\",\"percent\":74,\"days\":7},"
    "{ \"h_id\":\"23\",\"percent\":74}]},\"errors\":[],\"warnings\":[{\"db\":\"sensor\",\"index\":294208982},"
    "{\"db\":\"sensor\",\"index\":295210981}],\"processevents\":[],\"reminders\":[]}";

std::string msg3_builtin(const std::string& v)
{
    return "{\"fid\":\"DEVFID\",\"hold\":0,\"time\":\"TIMESTAMP\",\"data\":[{\"c\":0,\"p\":\"ce976ad0-1bd1-4a1f-9ba6-"
           "0130fba53c7e\",\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\",\"v\":" +
           v +
           ",\"pr\":2,\"tn\":0},{\"c\":0,\"p\":\"984c5c19-0292-438f-9f4e-32b2a0aa18a4\",\"u\":\"8503d0cf-1438-49c3-"
           "8201-2f4c0e36c49d\",\"v\":5.1,\"pr\":2,\"tn\":6,\"o\":1},{\"c\":0,\"p\":\"84b8bd7f-2420-4e16-855f-"
           "7278c5fcf990\",\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\",\"v\":0.4,\"pr\":2,\"tn\":12},{\"c\":0,"
           "\"p\":\"33a6a71a-1606-45fb-94c0-b34082919ca0\",\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\",\"v\":0.2,"
           "\"pr\":2,\"tn\":15},{\"c\":0,\"p\":\"357d0ea1-a521-43e8-99ae-81aa426b102f\",\"u\":\"c821a323-7275-4d50-"
           "96ec-c0a37223cf67\",\"v\":22.1,\"pr\":1,\"tn\":18}]}";
}

std::string formatted(double v)
{
    std::ostringstream text;
    text << v;
    return text.str();
}
}  // namespace

TEST_F(devsim_fixture, announcement_and_withdrawal_bodies)
{
    send_msgtype_1500(true);
    send_msgtype_1500(false);
    ASSERT_EQ(recording::bodies(1500).size(), 2u);
    EXPECT_EQ(recording::bodies(1500)[0],
              "{\"fid\":\"DEVFID\",\"gw_fid\":\"CTRLFID\",\"cstate\":1,\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}");
    EXPECT_EQ(recording::bodies(1500)[1],
              "{\"fid\":\"DEVFID\",\"gw_fid\":\"CTRLFID\",\"cstate\":0,\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}");
}

TEST_F(devsim_fixture, name_report_body)
{
    send_msgtype_1501("devsim");
    send_msgtype_1501("pump 7");
    EXPECT_EQ(recording::bodies(1501),
              (std::vector<std::string>{"{\"fid\":\"DEVFID\",\"name\":\"devsim\",\"data\":[]}",
                                        "{\"fid\":\"DEVFID\",\"name\":\"pump 7\",\"data\":[]}"}));
}

TEST_F(devsim_fixture, builtin_status_message)
{
    send_msgtype_2();
    ASSERT_EQ(recording::bodies(2).size(), 1u);
    EXPECT_EQ(recording::bodies(2)[0], MSG2_BUILTIN);
    EXPECT_TRUE(parses_as_json(MSG2_BUILTIN));
}

TEST_F(devsim_fixture, time_stamp_is_cut_at_63_characters)
{
    recording::time_stamp = std::string(70, '7');
    EXPECT_EQ(current_time_stamp(), std::string(63, '7'));
}

TEST(measurement_value, draws_map_onto_1_4_to_2)
{
    struct draw_case {
        long draw;
        const char* text;
    } cases[] = {
        {0, "1.4"},
        {1073741824, "1.7"},
        {1234567890, "1.74493"},
        {2147483647, "2"},  // rounds up to 2^31 in single precision
        {2147483584, "2"},
        {536870912, "1.55"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatted(measurement_value(c.draw)), c.text) << "draw " << c.draw;
}

TEST_F(devsim_fixture, builtin_measurement_message_carries_the_drawn_value)
{
    send_msgtype_3();  // seeds the generator from the clock; we reseed below
    srandom(1);
    send_msgtype_3();  // glibc's first draw after srandom(1) is 1804289383
    send_msgtype_3();
    auto sent = recording::bodies(3);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], msg3_builtin("1.90411"));
    EXPECT_TRUE(parses_as_json(sent[1]));
    EXPECT_NE(sent[2], sent[1]);  // the next draw
}

TEST_F(devsim_fixture, inserted_values_are_escaped)
{
    tt.device_fid = "a\"b\\c";
    tt.controller_fid = "ctrl\n1";
    send_msgtype_1500(true);
    send_msgtype_1501("say \"hi\"\t\x01");
    send_msgtype_2();
    send_msgtype_3();
    EXPECT_EQ(recording::bodies(1500)[0],
              "{\"fid\":\"a\\\"b\\\\c\",\"gw_fid\":\"ctrl\\n1\",\"cstate\":1,\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}");
    EXPECT_EQ(recording::bodies(1501)[0], "{\"fid\":\"a\\\"b\\\\c\",\"name\":\"say \\\"hi\\\"\\t\\u0001\",\"data\":[]}");
    for (const auto& m : recording::sent)
        EXPECT_TRUE(parses_as_json(m.body)) << m.body;
}

TEST(json_escape, bytes_outside_valid_utf8_become_latin1_characters)
{
    const struct {
        const char* value;
        const char* escaped;
    } cases[] = {
        {"Ger\xc3\xa4t \xf0\x9f\x98\x80", "Ger\xc3\xa4t \xf0\x9f\x98\x80"},  // valid UTF-8 stays
        {"\xe9t\xe9", "\\u00e9t\\u00e9"},
        {"\xc0\xaf", "\\u00c0\\u00af"},                    // overlong '/'
        {"\xe2\x82", "\\u00e2\\u0082"},                    // cut short
        {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},       // a surrogate
        {"\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},  // past U+10FFFF
        {"\xff\"", "\\u00ff\\\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json_escape(c.value), c.escaped) << c.value;
        EXPECT_TRUE(parses_as_json("\"" + json_escape(c.value) + "\"")) << c.value;
    }
}

TEST_F(devsim_mount_fixture, status_template_lines_are_joined)
{
    write_file("/mnt/vexa/set/test_msg2", "\"errors\":[],\n\"reminders\":[]\n");
    send_msgtype_2();
    EXPECT_EQ(recording::bodies(2)[0], "{\"fid\":\"DEVFID\",\"time_stamp\":\"TIMESTAMP\",\"errors\":[],\"reminders\":[]}");
}

TEST_F(devsim_mount_fixture, template_keeps_carriage_returns_and_a_last_line_without_newline)
{
    write_file("/mnt/vexa/set/test_msg2", "\"a\":1,\r\n\"b\":2");
    send_msgtype_2();
    EXPECT_EQ(recording::bodies(2)[0], "{\"fid\":\"DEVFID\",\"time_stamp\":\"TIMESTAMP\",\"a\":1,\r\"b\":2}");
}

TEST_F(devsim_mount_fixture, empty_template_is_sent_as_it_is)
{
    write_file("/mnt/vexa/set/test_msg2", "");
    send_msgtype_2();
    EXPECT_EQ(recording::bodies(2)[0], "{\"fid\":\"DEVFID\",\"time_stamp\":\"TIMESTAMP\",}");
}

TEST_F(devsim_mount_fixture, measurement_template_has_no_hold_of_its_own)
{
    write_file("/mnt/vexa/set/test_msg3", "\"data\":[\n{\"v\":1}\n]\n");
    send_msgtype_3();
    EXPECT_EQ(recording::bodies(3)[0], "{\"fid\":\"DEVFID\",\"time\":\"TIMESTAMP\",\"data\":[{\"v\":1}]}");
}

TEST_F(devsim_mount_fixture, templates_are_read_anew_for_every_send)
{
    send_msgtype_2();
    write_file("/mnt/vexa/set/test_msg2", "\"errors\":[]");
    send_msgtype_2();
    write_file("/mnt/vexa/set/test_msg2", "\"reminders\":[]");
    send_msgtype_2();
    ASSERT_EQ(remove("/mnt/vexa/set/test_msg2"), 0);
    send_msgtype_2();
    EXPECT_EQ(recording::bodies(2),
              (std::vector<std::string>{MSG2_BUILTIN,
                                        "{\"fid\":\"DEVFID\",\"time_stamp\":\"TIMESTAMP\",\"errors\":[]}",
                                        "{\"fid\":\"DEVFID\",\"time_stamp\":\"TIMESTAMP\",\"reminders\":[]}",
                                        MSG2_BUILTIN}));
}

TEST_F(devsim_mount_fixture, measurement_template_still_advances_the_generator)
{
    send_msgtype_3();  // seeds
    srandom(1);
    write_file("/mnt/vexa/set/test_msg3", "\"data\":[]");
    send_msgtype_3();  // takes the first draw after srandom(1)
    ASSERT_EQ(remove("/mnt/vexa/set/test_msg3"), 0);
    send_msgtype_3();
    srandom(1);
    random();
    long second = random();
    EXPECT_EQ(recording::bodies(3)[2], msg3_builtin(formatted(measurement_value(second))));
}
