// SPDX-License-Identifier: Apache-2.0
// recording_platform.h: stand-ins of the platform libraries for unit tests.
// The bus records what the device sends and lets a test deliver messages;
// the tracer records its records; the controller FID and the time stamp are
// fixed ("CTRLFID", "TIMESTAMP") unless a test sets them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sbapi.h"

namespace recording {

struct sent_message {
    int type;
    std::string body;
};

struct trace_record {
    std::string source_file;
    int source_line;
    std::string function;
    int level;
    std::string format;
    std::string message;  // the format with its values in place
};

extern std::vector<sent_message> sent;
extern std::vector<trace_record> traces;
extern std::string controller_fid;   // what GetControllerFID returns
extern std::string time_stamp;       // what GetCurrentTime writes
extern sbapi_RetVal send_result_1500, send_result_2001;
extern std::function<void()> on_do_work;       // runs inside each sbapi_doWork
extern std::function<void()> on_set_callback;  // runs inside each sbapi_setCallback_*
extern int do_work_calls;
extern std::string tracer_app, tracer_fid;  // what initLogTracer was given

// Back to the starting state, handlers forgotten.
void reset();
// Delivers a message to the handler registered for its type, as sbapi_doWork would.
sbapi_RetVal deliver(int type, const std::string& body);
bool has_handler(int type);
// The bodies sent with one type, in order.
std::vector<std::string> bodies(int type);

}  // namespace recording
