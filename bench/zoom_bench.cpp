// A zoom box change in a board window on the kit's first page, against the
// emulated kit board: the change and the one repaint it brings, delivered
// through the event loop as on screen. Per zoom of the box (from 100 %, or
// from 50 % to 100 %), in a window that has been at that zoom before and in
// one that has not (a new window in a process that has had windows: the
// memory it gets has mostly been used before, as in a program that has run
// a while); and stepping through the box's entries, up and down. Each
// should stay under 50 ms.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QComboBox>
#include <QEvent>
#include <QMdiArea>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "platform/log.h"
#include "quillbus/quillbus.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kZooms[] = {"50%", "80%", "100%", "125%", "150%", "175%", "200%"};

// Counts the paints of the diagram's paint box.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// The kit and its emulated board copied into a directory of their own, the
// program's working directory while the window lives (the pages find their
// scripts from there).
struct Window {
  testsupport::TempDir dir;
  std::filesystem::path previous = std::filesystem::current_path();
  pugi::xml_document list;
  QMdiArea area;
  PaintCounter counter;
  TDiagramForm* form = nullptr;

  Window() {
    namespace fs = std::filesystem;
    platform::SetLogSink([](const std::string&) {});
    const fs::path kit = fs::path(PALISAR_SOURCE_DIR) / "boards";
    for (const char* part : {"QMX7XXX", "Codecs", "emulated"})
      fs::copy(kit / part, fs::path(dir.path()) / part, fs::copy_options::recursive);
    fs::copy_file(kit / "EVM.xml", dir.File("EVM.xml"));
    fs::current_path(dir.path());
    QuillbusReset();
    QuillbusSetLatency(0);
    QuillbusSetBoardsDir(dir.File("emulated").c_str());
    list.load_file(dir.File("EVM.xml").c_str());
    OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId);
    EVMOpenRequest request;
    request.node = list.document_element().child("QMX7XXXEVM");
    request.deviceIndex = 0;
    request.deviceHandle = OrvaneUsbHidGetDevHandle(0);
    area.resize(1200, 900);
    area.show();
    form = new TDiagramForm(&area, &request);
    Deliver();
    form->BlockDiagramPaintBox->installEventFilter(&counter);
  }
  ~Window() {
    form->GetLink()->SetDeviceHandle(nullptr);
    delete form;
    Deliver();
    QuillbusReset();
    QuillbusSetBoardsDir(nullptr);
    std::filesystem::current_path(previous);
    platform::SetLogSink({});
  }
  bool Ready() const { return form && form->CurrentPage() && form->Foreground() && form->ZoomBox->findText(kZooms[0]) >= 0; }

  static void Deliver() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  // The zoom box set to `text` and its repaint delivered; false when no
  // repaint came.
  bool Zoom(const char* text) {
    const int before = counter.paints;
    form->ZoomBox->setCurrentIndex(form->ZoomBox->findText(text));
    Deliver();
    return counter.paints > before;
  }
};

double Milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

// Reports the worst change beside the mean.
void Report(benchmark::State& state, const std::vector<double>& spans) {
  if (spans.empty()) return;
  std::vector<double> sorted = spans;
  std::sort(sorted.begin(), sorted.end());
  state.counters["median_ms"] = sorted[sorted.size() / 2];
  state.counters["worst_ms"] = sorted.back();
}

// A window that has shown `zoom` before: from 100 % (from 50 % for 100 %)
// to `zoom`.
void BM_ZoomTo(benchmark::State& state, const char* zoom) {
  Window window;
  if (!window.Ready()) return state.SkipWithError("no kit window");
  const char* from = std::string(zoom) == "100%" ? "50%" : "100%";
  window.Zoom(zoom);
  std::vector<double> spans;
  for (auto _ : state) {
    window.Zoom(from);
    const Clock::time_point start = Clock::now();
    const bool painted = window.Zoom(zoom);
    const Clock::duration span = Clock::now() - start;
    if (!painted) return state.SkipWithError("the change brought no repaint");
    state.SetIterationTime(std::chrono::duration<double>(span).count());
    spans.push_back(Milliseconds(span));
  }
  Report(state, spans);
  state.counters["width"] = window.form->Foreground()->Width();
}

// A window opened at 100 % that has never been at `zoom`: the first change.
void BM_FirstZoomTo(benchmark::State& state, const char* zoom) {
  std::vector<double> spans;
  for (auto _ : state) {
    auto window = std::make_unique<Window>();
    if (!window->Ready()) return state.SkipWithError("no kit window");
    if (std::string(zoom) == "100%") window->Zoom("50%");
    const Clock::time_point start = Clock::now();
    const bool painted = window->Zoom(zoom);
    const Clock::duration span = Clock::now() - start;
    if (!painted) return state.SkipWithError("the change brought no repaint");
    state.SetIterationTime(std::chrono::duration<double>(span).count());
    spans.push_back(Milliseconds(span));
    window.reset();
  }
  Report(state, spans);
}

// Up through the entries and down again, one change an iteration.
void BM_ZoomThroughTheEntries(benchmark::State& state) {
  Window window;
  if (!window.Ready()) return state.SkipWithError("no kit window");
  std::vector<const char*> steps(std::begin(kZooms), std::end(kZooms));
  for (int i = int(std::size(kZooms)) - 2; i > 0; --i) steps.push_back(kZooms[i]);
  window.Zoom(steps.back());
  std::vector<double> spans;
  size_t step = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const bool painted = window.Zoom(steps[step]);
    const Clock::duration span = Clock::now() - start;
    if (!painted) return state.SkipWithError("the change brought no repaint");
    state.SetIterationTime(std::chrono::duration<double>(span).count());
    spans.push_back(Milliseconds(span));
    step = (step + 1) % steps.size();
  }
  Report(state, spans);
}

// The zooms of the box, each its own benchmark.
[[maybe_unused]] const bool registered = [] {
  for (const char* zoom : kZooms)
    benchmark::RegisterBenchmark((std::string("BM_ZoomTo/") + zoom).c_str(), BM_ZoomTo, zoom)
        ->UseManualTime()
        ->Iterations(20)
        ->Unit(benchmark::kMillisecond);
  for (const char* zoom : kZooms)
    benchmark::RegisterBenchmark((std::string("BM_FirstZoomTo/") + zoom).c_str(), BM_FirstZoomTo, zoom)
        ->UseManualTime()
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

BENCHMARK(BM_ZoomThroughTheEntries)->UseManualTime()->Iterations(48)->Unit(benchmark::kMillisecond);

}  // namespace
