// The clock solver runs on every keystroke of the digital setup dialog: it
// must stay well under one 60 Hz frame (16.7 ms), even for the slowest
// request found within the dialog's ranges.
#include <benchmark/benchmark.h>

#include "codec/qmx_clock.h"

namespace {

void Solve(benchmark::State& state, int input, int fs, int osrMin, int osrMax, int engine, int instructions) {
  TQMXClock clock;
  int count = 0;
  for (auto _ : state) benchmark::DoNotOptimize(count = clock.Solve(input, fs, osrMin, osrMax, engine, instructions, false));
  state.counters["solutions"] = count;
}

// The dialog's start: 12 MHz to 44100 Hz, fractional PLL.
BENCHMARK_CAPTURE(Solve, Default44100, 12000000, 44100, 128, 128, 4, 128)->Unit(benchmark::kMicrosecond);
// The slowest found: fractional stage over a wide OSR range at engine OSR 128.
BENCHMARK_CAPTURE(Solve, WideOsrFractional, 5000000, 100, 1, 1024, 128, 256)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Solve, WideOsrNoFullTable, 26000000, 1000, 1, 8192, 128, 128)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
