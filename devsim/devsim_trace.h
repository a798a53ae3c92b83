// SPDX-License-Identifier: Apache-2.0
// devsim_trace.h: what devsim's own trace records carry besides their text:
// the source name, the levels, and the source line of each record (fixed:
// they name the record, whichever line of ours makes the call).
#pragma once

const char* const TRACE_SOURCE = "devsim_main";

const int TRACE_CRITICAL = 2;  // refusals, unhandled requests, a failed pass or announcement
const int TRACE_NOTICE = 5;    // start, stop, decoded menu references
const int TRACE_INFO = 6;      // the acceptance

const int LINE_PAGE_NOT_HANDLED = 62;
const int LINE_ACCEPTED = 421;
const int LINE_REFUSED = 427;
const int LINE_MENU_REFERENCE = 452;
const int LINE_REQUEST_NOT_HANDLED = 471;
const int LINE_START = 516;
const int LINE_NOT_ANNOUNCED = 520;  // the bus cannot take the announcement
const int LINE_PASS_FAILED = 553;  // an exception out of a loop pass
const int LINE_STOP = 571;
