// SPDX-License-Identifier: Apache-2.0
// Recording stand-ins of the bus, tracer, controller tools and time stamp.
#include "recording_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "controller_tools.h"
#include "log_tracer.h"
#include "tools.h"

namespace recording {

std::vector<sent_message> sent;
std::vector<trace_record> traces;
std::string controller_fid = "CTRLFID";
std::string time_stamp = "TIMESTAMP";
sbapi_RetVal send_result_1500 = 0, send_result_2001 = 0;
std::function<void()> on_do_work, on_set_callback;
int do_work_calls = 0;
std::string tracer_app, tracer_fid;

namespace {
std::map<int, sbapi_Callback> handlers;

sbapi_RetVal record(int type, const std::string& body)
{
    sent.push_back({type, body});
    return 0;
}
}  // namespace

void reset()
{
    sent.clear();
    traces.clear();
    handlers.clear();
    controller_fid = "CTRLFID";
    time_stamp = "TIMESTAMP";
    send_result_1500 = send_result_2001 = 0;
    on_do_work = on_set_callback = nullptr;
    do_work_calls = 0;
    tracer_app.clear();
    tracer_fid.clear();
}

sbapi_RetVal deliver(int type, const std::string& body)
{
    auto handler = handlers.find(type);
    return handler == handlers.end() ? -1 : handler->second(body);
}

bool has_handler(int type)
{
    return handlers.count(type) != 0;
}

std::vector<std::string> bodies(int type)
{
    std::vector<std::string> out;
    for (const auto& m : sent)
        if (m.type == type)
            out.push_back(m.body);
    return out;
}

}  // namespace recording

using namespace recording;

sbapi_RetVal sbapi_setCallback_1500(sbapi_Callback handler)
{
    handlers[1500] = handler;
    if (on_set_callback)
        on_set_callback();
    return 0;
}

sbapi_RetVal sbapi_setCallback_2000(sbapi_Callback handler)
{
    handlers[2000] = handler;
    if (on_set_callback)
        on_set_callback();
    return 0;
}

sbapi_RetVal sbapi_doWork()
{
    ++do_work_calls;
    if (on_do_work)
        on_do_work();
    return 0;
}

sbapi_RetVal sbapi_sendMessage_1500(const std::string& body)
{
    record(1500, body);
    return send_result_1500;
}
sbapi_RetVal sbapi_sendMessage_1501(const std::string& body) { return record(1501, body); }
sbapi_RetVal sbapi_sendMessage_2(const std::string& body) { return record(2, body); }
sbapi_RetVal sbapi_sendMessage_3(const std::string& body) { return record(3, body); }

sbapi_RetVal sbapi_sendMessage_2001(const std::string& body)
{
    record(2001, body);
    return send_result_2001;
}

void initLogTracer(const char* app_name, const char* fid)
{
    tracer_app = app_name;
    tracer_fid = fid;
}

void logTracePrint(const char* source_file, int source_line, const char* function, int level,
                   const char* format, ...)
{
    va_list args;
    va_start(args, format);
    char message[4096];
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    traces.push_back({source_file, source_line, function, level, format, message});
}

const char* GetControllerFID()
{
    return recording::controller_fid.c_str();
}

void DateTimeHelper::GetCurrentTime(char* buffer, DateTimeFormat, bool)
{
    strncpy(buffer, recording::time_stamp.c_str(), 63);
}
