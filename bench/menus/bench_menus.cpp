// SPDX-License-Identifier: Apache-2.0
// Time and heap allocations per menu request, handler to recorded reply.
// Allocations are counted by this binary's own operator new
// (allocation_count.cpp); the recording bus's copies of each reply and trace
// record are among them.
#include <benchmark/benchmark.h>
#include <string>

#include "devsim_state.h"
#include "menu_dispatcher.h"
#include "recording_platform.h"

extern size_t allocations_made;  // allocation_count.cpp

namespace {
const std::string TABLE_REQUEST =
    R"({"sequence_id":"menu_entry","ref_id":"4711","data":{"menu_reference":{"reference":32769}}})";
const std::string HOME_REQUEST =
    R"({"sequence_id":"menu_entry","ref_id":"4712","data":{"menu_reference":{"reference":0}}})";
const std::string UNKNOWN_REQUEST = R"({"sequence_id":"menu_exit","ref_id":"4713"})";

void answer_requests(benchmark::State& state, const std::string& request)
{
    recording::reset();
    tt.device_fid = "DEVFID";
    callback_msgtype_2000(request);  // the recording vectors reach their size
    size_t before = allocations_made;
    for (auto _ : state) {
        benchmark::DoNotOptimize(callback_msgtype_2000(request));
        recording::sent.clear();
        recording::traces.clear();
    }
    state.counters["allocs_per_request"] =
        benchmark::Counter(static_cast<double>(allocations_made - before), benchmark::Counter::kAvgIterations);
}
}  // namespace

BENCHMARK_CAPTURE(answer_requests, table_menu, TABLE_REQUEST);
BENCHMARK_CAPTURE(answer_requests, home, HOME_REQUEST);
BENCHMARK_CAPTURE(answer_requests, failure_reply, UNKNOWN_REQUEST);

BENCHMARK_MAIN();
