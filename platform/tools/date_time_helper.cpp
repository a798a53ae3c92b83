// SPDX-License-Identifier: Apache-2.0
// Time stamps of the tools library stand-in. Format 0 is ISO 8601 in UTC to
// the second, "2026-12-08T09:30:05Z"; with local_time set, local time with
// its offset, "2026-12-08T10:30:05+0100".
#include "tools.h"

#include <ctime>

void DateTimeHelper::GetCurrentTime(char* buffer, DateTimeFormat format, bool local_time)
{
    (void)format;  // only one format exists
    time_t now = time(nullptr);
    tm parts{};
    if (local_time)
        localtime_r(&now, &parts);
    else
        gmtime_r(&now, &parts);
    size_t n = local_time ? strftime(buffer, 64, "%Y-%m-%dT%H:%M:%S%z", &parts)
                          : strftime(buffer, 64, "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (n == 0)
        buffer[0] = '\0';
}
