// SPDX-License-Identifier: Apache-2.0
// Start-up, command line and main loop, run whole against the recording bus
// and the fixture's loop clock.
#include <climits>
#include <csignal>
#include <new>
#include <vector>

#include "devsim_trace.h"
#include "devsim.h"
#include "devsim_fixture.h"
#include "private_mounts.h"
#include "recording_platform.h"

namespace {
// devsim_main with the given arguments after the invocation name "devsim".
int run_devsim(std::vector<std::string> args)
{
    args.insert(args.begin(), "devsim");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return devsim_main(static_cast<int>(args.size()), argv.data());
}

const char* const ANNOUNCEMENT =
    "{\"fid\":\"F1\",\"gw_fid\":\"CTRLFID\",\"cstate\":1,\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}";
const char* const WITHDRAWAL =
    "{\"fid\":\"F1\",\"gw_fid\":\"CTRLFID\",\"cstate\":0,\"gw_v\":\"0.00\",\"fw_v\":\"0.09\"}";

std::vector<int> sent_types()
{
    std::vector<int> types;
    for (const auto& m : recording::sent)
        types.push_back(m.type);
    return types;
}
}  // namespace

// Their output and exit status are checked on the real program, in the
// end-to-end table; what it cannot see is that the bus is never touched.
TEST_F(devsim_fixture, usage_and_version_leave_the_bus_alone)
{
    const std::vector<std::string> cases[] = {{}, {"-v"}, {"-v", "x", "5"}};
    for (const auto& args : cases) {
        SetUp();
        testing::internal::CaptureStdout();  // keeps the usage text out of the test's log
        run_devsim(args);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(recording::sent.empty()) << testing::PrintToString(args);
        EXPECT_FALSE(recording::has_handler(1500)) << testing::PrintToString(args);
        EXPECT_FALSE(recording::has_handler(2000)) << testing::PrintToString(args);
    }
}

TEST_F(devsim_fixture, interval_argument_reads_like_stream_extraction)
{
    struct interval_case {
        const char* argument;
        int interval;
    } cases[] = {
        {"10", 10}, {"45abc", 45}, {"abc", 0}, {"", 30}, {"   ", 30}, {" 7", 7}, {"+5", 5},
        {"-3", -3}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"0x10", 0}, {"1.9", 1},
    };
    for (const auto& c : cases) {
        tt.send_interval_secs = 30;
        read_send_interval(c.argument);
        EXPECT_EQ(tt.send_interval_secs, c.interval) << "argument \"" << c.argument << "\"";
    }
}

TEST_F(devsim_mount_fixture, accepted_run_sends_everything_in_order)
{
    write_file("/mnt/vexa/set/pidev_fid", "old content that is longer\n");
    recording::on_do_work = [] {
        if (recording::do_work_calls == 1)
            recording::deliver(1500, "{\"valid\":true}");
        if (!recording::bodies(3).empty())
            raise(SIGTERM);
    };
    EXPECT_EQ(run_devsim({"F1", "-v", "x"}), 0);

    EXPECT_EQ(tt.device_name, "-v");
    EXPECT_EQ(tt.send_interval_secs, 0);
    EXPECT_EQ(read_file("/mnt/vexa/set/pidev_fid"), "F1\n");
    EXPECT_EQ(recording::tracer_app, "devsim");
    EXPECT_EQ(recording::tracer_fid, "CTRLFID");
    EXPECT_EQ(sent_types(), (std::vector<int>{1500, 1501, 2, 3, 1500}));
    EXPECT_EQ(recording::sent.front().body, ANNOUNCEMENT);
    EXPECT_EQ(recording::sent[1].body, "{\"fid\":\"F1\",\"name\":\"-v\",\"data\":[]}");
    EXPECT_EQ(recording::sent.back().body, WITHDRAWAL);
    // Accepted in pass 1, messages 2 and 3 in pass 2, the signal ends the loop.
    EXPECT_EQ(recording::do_work_calls, 2);

    ASSERT_EQ(recording::traces.size(), 3u);
    EXPECT_EQ(recording::traces[0].source_line, LINE_START);
    EXPECT_EQ(recording::traces[0].level, 5);
    EXPECT_EQ(recording::traces[0].function, "main");
    EXPECT_EQ(recording::traces[0].message,
              "starting with fid \"F1\" (device_name = \"-v\" logging_slot_name = \"devsim\")\n");
    EXPECT_EQ(recording::traces[1].source_line, LINE_ACCEPTED);
    EXPECT_EQ(recording::traces[2].source_line, LINE_STOP);
    EXPECT_EQ(recording::traces[2].level, 5);
    EXPECT_EQ(recording::traces[2].message, "stopped \"-v\" with fid \"F1\" (signal 15)\n");
}

TEST_F(devsim_fixture, refused_run_withdraws_and_exits_with_zero)
{
    recording::on_do_work = [] { recording::deliver(1500, "{\"valid\":false}"); };
    EXPECT_EQ(run_devsim({"F1"}), 0);
    EXPECT_EQ(sent_types(), (std::vector<int>{1500, 1500}));
    EXPECT_EQ(recording::sent.back().body, WITHDRAWAL);
    ASSERT_EQ(recording::traces.size(), 3u);
    EXPECT_EQ(recording::traces[1].source_line, LINE_REFUSED);
    EXPECT_EQ(recording::traces[2].message, "stopped \"devsim\" with fid \"F1\" (signal 0)\n");
}

TEST_F(devsim_fixture, signal_before_the_verdict_sends_no_periodic_message)
{
    recording::on_do_work = [] {
        raise(SIGINT);
        raise(SIGQUIT);  // the later one is reported
    };
    EXPECT_EQ(run_devsim({"F1", "dev", "-5"}), 0);
    EXPECT_EQ(sent_types(), (std::vector<int>{1500, 1500}));
    EXPECT_EQ(recording::traces.back().message, "stopped \"dev\" with fid \"F1\" (signal 3)\n");
}

TEST_F(devsim_fixture, signal_while_the_handlers_are_registered_stops_before_the_announcement)
{
    recording::on_set_callback = [] { raise(SIGTERM); };
    EXPECT_EQ(run_devsim({"F1"}), 0);
    EXPECT_TRUE(recording::sent.empty());
    EXPECT_EQ(recording::do_work_calls, 0);
    EXPECT_EQ(recording::traces.back().message, "stopped \"devsim\" with fid \"F1\" (signal 15)\n");
}

TEST_F(devsim_fixture, an_announcement_the_bus_cannot_take_exits_with_1_without_withdrawal)
{
    recording::send_result_1500 = 1;
    EXPECT_EQ(run_devsim({"F1"}), 1);
    EXPECT_EQ(sent_types(), std::vector<int>{1500});
    EXPECT_EQ(recording::do_work_calls, 0);
    ASSERT_EQ(recording::traces.size(), 3u);
    EXPECT_EQ(recording::traces[1].source_line, LINE_NOT_ANNOUNCED);
    EXPECT_EQ(recording::traces[1].level, 2);
    EXPECT_EQ(recording::traces[1].message, "device \"F1\" cannot be announced on the bus - aborting ..\n");
}

TEST_F(devsim_fixture, exception_in_a_pass_withdraws_and_exits_with_1)
{
    recording::on_do_work = [] {
        if (recording::do_work_calls == 1)
            recording::deliver(1500, "{\"valid\":true}");
        else
            throw std::bad_alloc();
    };
    EXPECT_EQ(run_devsim({"F1"}), 1);
    EXPECT_EQ(sent_types(), (std::vector<int>{1500, 1501, 2, 3, 1500}));
    EXPECT_EQ(recording::sent.back().body, WITHDRAWAL);
    ASSERT_EQ(recording::traces.size(), 4u);
    EXPECT_EQ(recording::traces[2].source_line, LINE_PASS_FAILED);
    EXPECT_EQ(recording::traces[2].level, 2);
    EXPECT_EQ(recording::traces[2].function, "main");
    EXPECT_EQ(recording::traces[2].message, "loop pass failed (std::bad_alloc) - aborting ..\n");
    EXPECT_EQ(recording::traces[3].message, "stopped \"devsim\" with fid \"F1\" (signal 0)\n");
}

TEST_F(devsim_fixture, interval_paces_the_periodic_messages)
{
    // Passes end at 1000.8, 1001.6, 1002.4, 1003.2 and 1004.0 s on the loop
    // clock; accepted in the first. A negative interval sends on every pass
    // after acceptance, 1 at 1001 and 1003 s, a long one the first pair only.
    struct pairs_case {
        const char* interval;
        size_t pairs;
    } cases[] = {{"-1", 4}, {"1", 2}, {"1000", 1}};
    for (const auto& c : cases) {
        SetUp();
        recording::on_do_work = [] {
            if (recording::do_work_calls == 1)
                recording::deliver(1500, "{\"valid\":true}");
            if (recording::do_work_calls == 5)
                raise(SIGTERM);
        };
        EXPECT_EQ(run_devsim({"F1", "dev", c.interval}), 0);
        EXPECT_EQ(recording::bodies(2).size(), c.pairs) << "interval " << c.interval;
        EXPECT_EQ(recording::bodies(3).size(), c.pairs) << "interval " << c.interval;
        std::vector<int> expected{1500, 1501};
        for (size_t i = 0; i < c.pairs; ++i) {
            expected.push_back(2);
            expected.push_back(3);
        }
        expected.push_back(1500);
        EXPECT_EQ(sent_types(), expected) << "interval " << c.interval;
    }
}
