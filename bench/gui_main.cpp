// The main of the benchmarks that build windows: an offscreen application
// with the decimal point the program uses and the GUI layer installed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <clocale>

#include "platform/gui/gui.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  gui::Install();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gui::Uninstall();
  return 0;
}
