// Host-side cost of the board link against an emulated board with no
// latency: one command exchange, and writing and reading a 128-register page.
// A real full-speed USB board needs about 2 ms per command and reply; the
// link should add at most 1 % of that (under 20 us per exchange).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "link/usbi2c.h"
#include "platform/log.h"
#include "quillbus/quillbus.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kRealExchangeNs = 2e6;

struct Board {
  testsupport::TempDir dir;
  std::unique_ptr<TUSBI2C> link;
  Board() {
    platform::SetLogSink([](const std::string&) {});
    QuillbusReset();
    QuillbusSetBoardsDir(dir.path().c_str());
    testsupport::WriteFile(dir.File("bench.board"), "name = BENCHEVM\n");
    link = std::make_unique<TUSBI2C>(false);
    OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId);
    link->AcquireEVM(OrvaneUsbHidGetDevHandle(0));
    link->AddDevice(0x30, 0, 256);
  }
  ~Board() {
    link.reset();
    QuillbusReset();
    QuillbusSetBoardsDir(nullptr);
    platform::SetLogSink({});
  }
};

// Per-exchange cost and the share of a real board's exchange time it adds.
void Report(benchmark::State& state, std::chrono::steady_clock::time_point start, double exchangesPerIteration) {
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  const double perExchange = ns / (double(state.iterations()) * exchangesPerIteration);
  state.counters["ns_per_exchange"] = perExchange;
  state.counters["percent_of_real_board"] = perExchange * 100.0 / kRealExchangeNs;
}

void BM_CommandExchange(benchmark::State& state) {
  Board board;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    HIDCommandPacket p = HIDCommandPacket::AppID();
    benchmark::DoNotOptimize(board.link->ExecuteCommand(p));
  }
  Report(state, start, 1);
}
BENCHMARK(BM_CommandExchange);

void BM_WritePage(benchmark::State& state) {
  Board board;
  uint8_t data[128] = {};
  // Three data commands, each behind an I2C select.
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(board.link->WriteRegisters(data, 0x30, 0, 1, 0, 128));
  Report(state, start, 6);
}
BENCHMARK(BM_WritePage);

void BM_ReadPage(benchmark::State& state) {
  Board board;
  uint8_t data[128];
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(board.link->ReadRegisters(data, 0x30, 0, 1, 0, 128));
  Report(state, start, 6);
}
BENCHMARK(BM_ReadPage);

}  // namespace

BENCHMARK_MAIN();
