// SPDX-License-Identifier: Apache-2.0
// The bus's verdict on the announcement: acceptance, refusal, repeats.
#include "devsim_trace.h"
#include "devsim.h"
#include "devsim_fixture.h"
#include "recording_platform.h"
#include "registration.h"

namespace {
const char* const NAME_REPORT = "{\"fid\":\"DEVFID\",\"name\":\"devsim\",\"data\":[]}";
}

TEST_F(devsim_fixture, acceptance_reports_the_name)
{
    for (const char* verdict : {"{\"valid\":true}", "{\"valid\":1}", "{\"valid\":-7,\"other\":\"x\"}",
                                "{\"valid\":1.0}", "{\"valid\":1e0}", "{\"valid\":2.5}"}) {
        SetUp();
        tt.device_state = DEVICE_STATE_REGISTERING;
        EXPECT_EQ(callback_msgtype_1500(verdict), 0) << verdict;
        EXPECT_EQ(tt.device_state, DEVICE_STATE_ACCEPTED) << verdict;
        EXPECT_EQ(recording::bodies(1501), std::vector<std::string>{NAME_REPORT}) << verdict;
        ASSERT_EQ(recording::traces.size(), 1u) << verdict;
        const auto& trace = recording::traces[0];
        EXPECT_EQ(trace.source_file, "devsim_main");
        EXPECT_EQ(trace.source_line, LINE_ACCEPTED);
        EXPECT_EQ(trace.function, "callback_msgtype_1500");
        EXPECT_EQ(trace.level, 6);
        EXPECT_EQ(trace.message, "device \"DEVFID\" is accepted\n");
    }
}

TEST_F(devsim_fixture, refusal_stops_without_sending)
{
    // 0.5 reads as 0, as C's conversion gives it to the int.
    for (const char* verdict : {"{\"valid\":false}", "{\"valid\":0}", "{}", "{\"valid\":\"yes\"}", "not json", "",
                                "{\"valid\":0.5}"}) {
        SetUp();
        tt.device_state = DEVICE_STATE_ACCEPTED;
        EXPECT_EQ(callback_msgtype_1500(verdict), 4) << verdict;
        EXPECT_EQ(tt.device_state, DEVICE_STATE_STOPPING) << verdict;
        EXPECT_TRUE(recording::sent.empty()) << verdict;
        ASSERT_EQ(recording::traces.size(), 1u) << verdict;
        const auto& trace = recording::traces[0];
        EXPECT_EQ(trace.source_line, LINE_REFUSED);
        EXPECT_EQ(trace.level, 2);
        EXPECT_EQ(trace.function, "callback_msgtype_1500");
        EXPECT_EQ(trace.message, "device \"DEVFID\" is not accepted - aborting ..\n");
    }
}

TEST_F(devsim_fixture, second_acceptance_reports_the_name_again)
{
    tt.device_name = "pump";
    tt.device_state = DEVICE_STATE_REGISTERING;
    callback_msgtype_1500("{\"valid\":true}");
    callback_msgtype_1500("{\"valid\":true}");
    EXPECT_EQ(tt.device_state, DEVICE_STATE_ACCEPTED);
    const std::string report = "{\"fid\":\"DEVFID\",\"name\":\"pump\",\"data\":[]}";
    EXPECT_EQ(recording::bodies(1501), (std::vector<std::string>{report, report}));
}

TEST_F(devsim_fixture, refusal_after_acceptance_stops)
{
    callback_msgtype_1500("{\"valid\":true}");
    callback_msgtype_1500("{\"valid\":false}");
    EXPECT_EQ(tt.device_state, DEVICE_STATE_STOPPING);
}

TEST_F(devsim_fixture, acceptance_does_not_undo_a_stop_signal)
{
    tt.device_state = DEVICE_STATE_REGISTERING;
    handle_signal(15);
    EXPECT_EQ(callback_msgtype_1500("{\"valid\":true}"), 0);
    EXPECT_EQ(tt.device_state, DEVICE_STATE_STOPPING);
    EXPECT_EQ(recording::bodies(1501), std::vector<std::string>{NAME_REPORT});
}
