// SPDX-License-Identifier: Apache-2.0
// log_tracer.h: the controller's log tracer library.
#pragma once

void initLogTracer(const char* app_name, const char* controller_fid);

// One trace record; format and its values as for printf.
void logTracePrint(const char* source_file, int source_line, const char* function, int level,
                   const char* format, ...) __attribute__((format(printf, 5, 6)));
