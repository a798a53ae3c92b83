// devsim start-up and main loop: command line, FID file, tracer, signal
// handler, bus handlers, then an 800 ms loop that sends the periodic messages
// once the bus has accepted the device and lets the bus client deliver
// incoming messages. Usage and version go to standard output; everything else
// is traced.
#include "devsim.h"

#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "controller_tools.h"
#include "devsim_trace.h"
#include "log_tracer.h"
#include "menu_dispatcher.h"
#include "registration.h"
#include "sbapi.h"
#include "test_messages.h"

devsim_globals tt;

namespace {
const std::string app_name = "devsim";
const std::string app_version = "1.0.2";
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

void run_main_loop()
{
    time_t last_msg2_time = 0;
    time_t last_msg3_time = 0;
    while (tt.device_state != DEVICE_STATE_STOPPING) {
        usleep(LOOP_PAUSE_USECS);  // a signal cuts it short; the pass goes on
        if (tt.device_state == DEVICE_STATE_ACCEPTED) {
            time_t now = time(nullptr);
            if (now - last_msg2_time > tt.send_interval_secs) {
                send_msgtype_2();
                last_msg2_time = now;
            }
            if (now - last_msg3_time > tt.send_interval_secs) {
                send_msgtype_3();
                last_msg3_time = now;
            }
        }
        sbapi_doWork();
    }
}
}  // namespace

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
    tt.device_state = DEVICE_STATE_REGISTERING;
    send_msgtype_1500(true);

    run_main_loop();

    send_msgtype_1500(false);
    logTracePrint(TRACE_SOURCE, LINE_STOP, "main", TRACE_NOTICE, "stopped \"%s\" with fid \"%s\" (signal %d)\n",
                  tt.device_name.c_str(), tt.device_fid.c_str(), static_cast<int>(tt.stop_signal));
    return 0;
}
