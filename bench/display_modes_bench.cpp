// The run's display mode list (one X connection, a count pass and a fill pass, each asking
// every mode source) taken again and again in one process, the libraries already loaded. Run
// it with DISPLAY set, or through bench/display_vs_xrandr.py, which starts a private X server.

#include "mode_list.h"

#include <benchmark/benchmark.h>

namespace {

void take_display_mode_list_once(benchmark::State& state) {
    std::int64_t modes = 0;
    for (auto _ : state) {
        const mode_table table = take_display_mode_list();
        modes = table.count;
        benchmark::DoNotOptimize(table.rows.data());
    }
    state.counters["modes"] = static_cast<double>(modes);
}

BENCHMARK(take_display_mode_list_once)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
