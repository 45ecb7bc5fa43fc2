// The filter designer: designing 40 sections and evaluating their response
// at 1024 plot points, and one full redraw of the Bode plot with 40
// enabled sections. Together they should stay well under one 60 Hz frame.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <cmath>
#include <complex>
#include <memory>

#include "codec/filter/biquad.h"
#include "codec/filter/zt.h"

namespace {

void BM_Design40Response1024(benchmark::State& state) {
  std::unique_ptr<TBiquad> sections[40];
  for (int i = 0; i < 40; ++i) {
    sections[i] = std::make_unique<TBiquad>(i);
    sections[i]->type = i % 7;
    sections[i]->subtype = i % 5;
    sections[i]->q = 0.9;
  }
  double sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < 40; ++i) sections[i]->Design(20.0 * std::pow(1.18, i), 50 + 10 * i, 48000, (i % 13) - 6, false);
    for (int p = 0; p < 1024; ++p) {
      const double f = 10 * std::pow(2400.0, p / 1023.0);
      for (const auto& s : sections) {
        const std::complex<double> h = s->Response(f);  // as the plot evaluates it
        sink += std::abs(h) + TBiquad::PhaseOf(h);
      }
    }
  }
  benchmark::DoNotOptimize(sink);
  state.counters["sections"] = 40;
  state.counters["points"] = 1024;
}
BENCHMARK(BM_Design40Response1024)->Unit(benchmark::kMillisecond);

void BM_FullPlotRedraw40(benchmark::State& state) {
  TZT tool;
  tool.SetFilterCount(40);
  for (unsigned i = 0; i < 40; ++i) {
    tool.EnableBox(i)->setChecked(true);
    tool.SecondBox(i)->setChecked(true);  // every section's own curve too
    tool.Filter(i)->SetEnabled(true);
    tool.Filter(i)->Design(tool.Filter(i)->fc, tool.Filter(i)->bandwidth, 44100, (i % 13) - 6, false);
  }
  for (auto _ : state) tool.BodePlotPaint();
  state.counters["sections"] = 40;
}
BENCHMARK(BM_FullPlotRedraw40)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
