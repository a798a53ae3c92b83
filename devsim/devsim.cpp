// SPDX-License-Identifier: Apache-2.0
// devsim start-up and main loop: command line, FID file, tracer, signal
// handler, bus handlers, then an 800 ms loop that sends the periodic messages
// once the bus has accepted the device and lets the bus client deliver
// incoming messages. Usage and version go to standard output; everything else
// is traced. Pacing runs on the monotonic clock, the time stamps in the
// bodies on the wall clock. An exception out of a pass ends the loop: the
// device withdraws and exits with status 1; so does an announcement that the
// bus cannot even take, without the withdrawal.
#include "devsim.h"

#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <unistd.h>

#include "controller_tools.h"
#include "ctrltools_version.h"
#include "devsim_trace.h"
#include "log_tracer.h"
#include "menu_dispatcher.h"
#include "registration.h"
#include "sbapi.h"
#include "test_messages.h"

devsim_globals tt;

namespace {
const std::string app_name = "devsim";
const std::string app_version = CTRLTOOLS_VERSION;
const char* const FID_FILE = "/mnt/vexa/set/pidev_fid";
const useconds_t LOOP_PAUSE_USECS = 800000;

// Rewritten at every start; a missing mount is no reason not to run.
void write_fid_file()
{
    std::ofstream out(FID_FILE, std::ios::out | std::ios::trunc);
    if (out.is_open())
        out << tt.device_fid << '\n';
}

void install_signal_handlers()
{
    signal(SIGINT, handle_signal);
    signal(SIGQUIT, handle_signal);
    signal(SIGABRT, handle_signal);
    signal(SIGTERM, handle_signal);
}

void read_command_line(int argc, char** argv)
{
    tt.device_fid = argv[1];
    if (argc > 2)
        tt.device_name = argv[2];
    if (argc > 3)
        read_send_interval(argv[3]);
}

long long monotonic_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec);
}

void pause_between_passes()
{
    usleep(LOOP_PAUSE_USECS);  // a signal cuts it short; the pass goes on
}

struct periodic_sends {
    std::optional<long long> msg2_secs;  // when message 2 last went out
    std::optional<long long> msg3_secs;
};

// Due at the first pass after acceptance, then once more whole seconds than
// the interval have passed (a negative interval: every pass; 0: whenever a
// new second has begun). The clock never steps, so a correction of the
// wall clock does not hold the messages back.
bool due(const std::optional<long long>& last_secs, long long now_secs)
{
    return !last_secs || now_secs - *last_secs > tt.send_interval_secs;
}

void run_pass(periodic_sends& sends)
{
    if (tt.device_state == DEVICE_STATE_ACCEPTED) {
        long long now = main_loop_clock.seconds();
        if (due(sends.msg2_secs, now)) {
            send_msgtype_2();
            sends.msg2_secs = now;
        }
        if (due(sends.msg3_secs, now)) {
            send_msgtype_3();
            sends.msg3_secs = now;
        }
    }
    sbapi_doWork();
}

void trace_failed_pass(const char* what)
{
    logTracePrint(TRACE_SOURCE, LINE_PASS_FAILED, "main", TRACE_CRITICAL, "loop pass failed (%s) - aborting ..\n",
                  what);
}

// false when a pass ended in an exception (from a handler or a send): the
// device cannot know what state it is in, so it withdraws and stops.
bool run_main_loop()
{
    periodic_sends sends;
    while (tt.device_state != DEVICE_STATE_STOPPING) {
        main_loop_clock.pause();
        try {
            run_pass(sends);
        } catch (const std::exception& e) {
            trace_failed_pass(e.what());
            return false;
        } catch (...) {
            trace_failed_pass("unknown exception");
            return false;
        }
    }
    return true;
}

// A stop signal may come at any moment once its handler is in place: the
// device announces itself only when none has come. The check follows the
// store, so a signal in between is seen too (the handler stores
// device_state before stop_signal).
bool begin_registration()
{
    tt.device_state = DEVICE_STATE_REGISTERING;
    if (tt.stop_signal == 0)
        return true;
    tt.device_state = DEVICE_STATE_STOPPING;
    return false;
}

// The exit status of a device that has begun registering.
int announce_and_run()
{
    if (send_msgtype_1500(true) != 0) {
        logTracePrint(TRACE_SOURCE, LINE_NOT_ANNOUNCED, "main", TRACE_CRITICAL,
                      "device \"%s\" cannot be announced on the bus - aborting ..\n", tt.device_fid.c_str());
        return 1;
    }
    bool clean = run_main_loop();
    send_msgtype_1500(false);
    return clean ? 0 : 1;
}
}  // namespace

loop_clock main_loop_clock = {monotonic_seconds, pause_between_passes};

void print_usage(const std::string& invocation_name)
{
    std::cout << "usage:" << std::endl;
    std::cout << "    " << invocation_name << " <FID> [<device_name=" << tt.device_name
              << "> [<send_interval_secs=" << tt.send_interval_secs << ">]]" << std::endl;
    std::cout << " or" << std::endl;
    std::cout << "    " << invocation_name << " -v" << std::endl;
    std::cout << std::endl;
}

// Only stores: this runs asynchronously to everything else.
void handle_signal(int signal_number)
{
    tt.device_state = DEVICE_STATE_STOPPING;
    tt.stop_signal = signal_number;
}

// Formatted extraction: blanks skipped, a sign accepted, stops at the first
// character that cannot continue the number, clamps to the int range, 0 for
// text that is no number; an empty or blank argument keeps the old value.
void read_send_interval(const std::string& argument)
{
    std::istringstream in(argument);
    in >> tt.send_interval_secs;
}

int devsim_main(int argc, char** argv)
{
    if (argc < 2) {
        print_usage(argc > 0 && argv[0] ? argv[0] : "devsim");
        return 1;
    }
    if (std::string(argv[1]) == "-v") {
        std::cout << app_version << std::endl;
        return 0;
    }
    read_command_line(argc, argv);
    tt.controller_fid = GetControllerFID();
    initLogTracer(app_name.c_str(), tt.controller_fid.c_str());
    logTracePrint(TRACE_SOURCE, LINE_START, "main", TRACE_NOTICE,
                  "starting with fid \"%s\" (device_name = \"%s\" logging_slot_name = \"%s\")\n",
                  tt.device_fid.c_str(), tt.device_name.c_str(), app_name.c_str());
    write_fid_file();
    install_signal_handlers();
    // Both handlers are in place before the announcement, so its answer cannot go unhandled.
    sbapi_setCallback_1500(callback_msgtype_1500);
    sbapi_setCallback_2000(callback_msgtype_2000);
    int status = begin_registration() ? announce_and_run() : 0;
    logTracePrint(TRACE_SOURCE, LINE_STOP, "main", TRACE_NOTICE, "stopped \"%s\" with fid \"%s\" (signal %d)\n",
                  tt.device_name.c_str(), tt.device_fid.c_str(), static_cast<int>(tt.stop_signal));
    return status;
}
