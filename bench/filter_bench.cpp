// The filter designer: designing 40 sections and evaluating their response
// at 1024 plot points, one full redraw of the Bode plot with 40 enabled
// sections, and a redraw after one of them changed (a marker drag).
// Together they should stay well under one 60 Hz frame.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

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
  std::vector<double> frequencies(1024);
  for (int p = 0; p < 1024; ++p) frequencies[p] = 10 * std::pow(2400.0, p / 1023.0);
  TFrequencyTable table;
  std::vector<double> dB(1024), phase(1024);
  double sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < 40; ++i) sections[i]->Design(20.0 * std::pow(1.18, i), 50 + 10 * i, 48000, (i % 13) - 6, false);
    table.Set(frequencies, 48000);  // as the plot does after a rate change
    for (const auto& s : sections) {
      s->Evaluate(table, dB.data(), phase.data());
      sink += dB[512] + phase[512];
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

// A marker drag: one of the 40 sections designed anew, then the redraw.
void BM_RedrawAfterOneDesign40(benchmark::State& state) {
  TZT tool;
  tool.SetFilterCount(40);
  for (unsigned i = 0; i < 40; ++i) {
    tool.EnableBox(i)->setChecked(true);
    tool.SecondBox(i)->setChecked(true);
    tool.Filter(i)->SetEnabled(true);
    tool.Filter(i)->Design(tool.Filter(i)->fc, tool.Filter(i)->bandwidth, 44100, (i % 13) - 6, false);
  }
  TBiquad& dragged = *tool.Filter(5);
  int step = 0;
  for (auto _ : state) {
    dragged.Design(1000 + 10 * (step++ % 100), 200, 44100, 3, false);
    tool.BodePlotPaint();
  }
  state.counters["sections"] = 40;
}
BENCHMARK(BM_RedrawAfterOneDesign40)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
