// Diagram pages: loading a page of 1024 objects (the load alone), its first
// show, its teardown, loading the board kit's own pages, opening and zooming
// a page with a 5 MB text line, and one full redraw (background and
// foreground) at 100 % zoom. Pages load onto a paint box as
// in a board window; what a page leaves behind is destroyed and its posted
// events delivered outside the timed span, so no iteration pays for an
// earlier one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "common/canvas.h"
#include "diagram/block_diagram.h"

namespace {

// A page like the board kit's, 1024 objects: blocks, wires, labels,
// widgets and paths, in rows.
std::string PageText() {
  std::string text = "<?xml version=\"1.0\"?>\n<svg width=\"1600\" height=\"1200\">\n";
  text += "<metadata><I2CAddress>0x30</I2CAddress><pages>255</pages></metadata>\n";
  char line[512];
  for (int i = 0; i < 1024; ++i) {
    const int x = 20 + (i % 32) * 48, y = 20 + (i / 32) * 36;
    switch (i % 8) {
      case 0:
        std::snprintf(line, sizeof line,
                      "<rect x=\"%d\" y=\"%d\" width=\"40\" height=\"24\" rx=\"4\" ry=\"4\" "
                      "style=\"fill:#DCE6F2\"/>\n",
                      x, y);
        break;
      case 1:
        std::snprintf(line, sizeof line, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", x, y + 12, x + 44,
                      y + 12);
        break;
      case 2:
        std::snprintf(line, sizeof line, "<text x=\"%d\" y=\"%d\"><tspan>L%d</tspan></text>\n", x + 20, y + 22, i);
        break;
      case 3:
        std::snprintf(line, sizeof line,
                      "<rect x=\"%d\" y=\"%d\" width=\"30\" height=\"20\" function=\"switch\" Bit=\"%d\" "
                      "I2CPage=\"0\" I2CRegister=\"%d\" Net=\"%d %d\"/>\n",
                      x, y, i % 8, i % 100, i, i + 1);
        break;
      case 4:
        std::snprintf(line, sizeof line, "<polyline points=\"%d,%d %d,%d %d,%d\" LinkTo=\"%d\"/>\n", x, y, x + 20,
                      y + 10, x + 40, y, i);
        break;
      case 5:
        std::snprintf(line, sizeof line,
                      "<polygon points=\"%d,%d %d,%d %d,%d\" function=\"amplifier\" min=\"-12\" max=\"20\" "
                      "step=\"0.5\" I2CPage=\"0\" I2CRegister=\"65\" Mask=\"0x3F\" Shift=\"0\"/>\n",
                      x, y, x, y + 24, x + 30, y + 12);
        break;
      case 6:
        std::snprintf(line, sizeof line, "<ellipse cx=\"%d\" cy=\"%d\" rx=\"12\" ry=\"12\" function=\"mixer\"/>\n",
                      x + 12, y + 12);
        break;
      default:
        std::snprintf(line, sizeof line, "<path d=\"M %d,%d L %d,%d L %d,%d z\"/>\n", x, y, x + 30, y, x + 15, y + 20);
        break;
    }
    text += line;
  }
  return text + "</svg>\n";
}

std::string PageFile() {
  static const std::string path = [] {
    const std::string name = "/tmp/palisar_bench_page_" + std::to_string(getpid()) + ".svg";
    std::ofstream(name) << PageText();
    return name;
  }();
  return path;
}

// The board window's paint box, which the pages' controls sit on.
QWidget& PaintBox() {
  static QWidget* box = [] {
    auto* widget = new QWidget;
    widget->resize(1536, 1152);
    return widget;
  }();
  return *box;
}

TDiagramContext WindowContext() {
  TDiagramContext context;
  context.owner = &PaintBox();
  return context;
}

// Deferred deletions and posted events of a page delivered, so the queue
// never grows from one iteration to the next.
void DeliverPostedEvents() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::sendPostedEvents();
}

// Untimed: destroying what the timed span built, its events delivered first
// as the event loop would have done (each control's destruction otherwise
// scans the whole queue).
void Discard(benchmark::State& state, std::unique_ptr<TBlockDiagram>& page) {
  state.PauseTiming();
  DeliverPostedEvents();
  page.reset();
  DeliverPostedEvents();
  state.ResumeTiming();
}

void BM_LoadPage1024(benchmark::State& state) {
  const TDiagramContext context = WindowContext();
  std::unique_ptr<TBlockDiagram> page;
  for (auto _ : state) {
    page = std::make_unique<TBlockDiagram>(PageFile(), context);
    benchmark::DoNotOptimize(page->ObjectCount());
    Discard(state, page);
  }
}
BENCHMARK(BM_LoadPage1024)->Unit(benchmark::kMillisecond);

// A loaded page shown for the first time, as its board window shows the
// current page (the controls a widget builds when first shown are here).
void BM_FirstShowPage1024(benchmark::State& state) {
  const TDiagramContext context = WindowContext();
  std::unique_ptr<TBlockDiagram> page;
  for (auto _ : state) {
    state.PauseTiming();
    page = std::make_unique<TBlockDiagram>(PageFile(), context);
    page->SetVisible(false);
    page->SetZoom(1.0, 0, 0);
    DeliverPostedEvents();
    state.ResumeTiming();
    page->SetVisible(true);
    Discard(state, page);
  }
}
BENCHMARK(BM_FirstShowPage1024)->Unit(benchmark::kMillisecond);

// Destroying a shown page, with the events its controls posted delivered.
void BM_TearDownPage1024(benchmark::State& state) {
  const TDiagramContext context = WindowContext();
  std::unique_ptr<TBlockDiagram> page;
  for (auto _ : state) {
    state.PauseTiming();
    page = std::make_unique<TBlockDiagram>(PageFile(), context);
    page->SetZoom(1.0, 0, 0);
    page->SetVisible(true);
    DeliverPostedEvents();
    state.ResumeTiming();
    page.reset();
    DeliverPostedEvents();
  }
}
BENCHMARK(BM_TearDownPage1024)->Unit(benchmark::kMillisecond);

// The board kit's pages, loaded from the board list's directory as the
// program does (their scripts and coefficient files are found from there).
void BM_LoadKitPage(benchmark::State& state, const char* file) {
  char saved[4096];
  if (!getcwd(saved, sizeof saved) || chdir(PALISAR_SOURCE_DIR "/boards") != 0) {
    state.SkipWithError("no board kit");
    return;
  }
  const TDiagramContext context = WindowContext();
  std::unique_ptr<TBlockDiagram> page;
  for (auto _ : state) {
    page = std::make_unique<TBlockDiagram>(file, context);
    benchmark::DoNotOptimize(page->ObjectCount());
    Discard(state, page);
  }
  if (chdir(saved) != 0) state.SkipWithError("cannot return to the start directory");
}
BENCHMARK_CAPTURE(BM_LoadKitPage, QMX7XXX/Page1, "QMX7XXX\\Page1.svg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadKitPage, QMX7XXX/Page2, "QMX7XXX\\Page2.svg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadKitPage, QMX7XXX/Clock, "QMX7XXX\\Clock.svg")->Unit(benchmark::kMillisecond);

// A page whose one text holds a 5 MB line: loaded, placed at 100 % and
// drawn once, as a board window opens it; then only placed and drawn again,
// as a zoom or a refresh does.
std::string HugeTextPageFile() {
  static const std::string path = [] {
    const std::string name = "/tmp/palisar_bench_text_" + std::to_string(getpid()) + ".svg";
    std::ofstream(name) << "<svg width=\"1600\" height=\"1200\"><text x=\"800\" y=\"600\"><tspan>"
                        << std::string(5 << 20, 'x') << "</tspan></text></svg>\n";
    return name;
  }();
  return path;
}

void DrawPage(TBlockDiagram& page, TCanvas& canvas) {
  QPainter& painter = canvas.Lock();
  painter.fillRect(0, 0, canvas.Width(), canvas.Height(), Qt::white);
  for (unsigned i = 0; i < page.ObjectCount(); ++i) page.Object(i)->Paint(&canvas);
  canvas.Unlock();
}

void BM_OpenPageWithHugeText(benchmark::State& state) {
  const TDiagramContext context = WindowContext();
  TCanvas canvas;
  canvas.SetSize(1280, 960, 0xFFFFFF);
  std::unique_ptr<TBlockDiagram> page;
  for (auto _ : state) {
    page = std::make_unique<TBlockDiagram>(HugeTextPageFile(), context);
    page->SetZoom(1.0, 0, 0);
    DrawPage(*page, canvas);
    Discard(state, page);
  }
}
BENCHMARK(BM_OpenPageWithHugeText)->Unit(benchmark::kMillisecond);

void BM_ZoomPageWithHugeText(benchmark::State& state) {
  const TDiagramContext context = WindowContext();
  TBlockDiagram page(HugeTextPageFile(), context);
  TCanvas canvas;
  canvas.SetSize(1920, 1440, 0xFFFFFF);
  float zoom = 1.0f;
  for (auto _ : state) {
    zoom = zoom == 1.0f ? 1.5f : 1.0f;
    page.SetZoom(zoom, 0, 0);
    DrawPage(page, canvas);
  }
}
BENCHMARK(BM_ZoomPageWithHugeText)->Unit(benchmark::kMillisecond);

void BM_FullRedraw1024(benchmark::State& state) {
  TDiagramContext context;  // headless: drawing only
  TBlockDiagram page(PageFile(), context);
  page.SetZoom(1.0, 0, 0);
  TCanvas canvas;
  canvas.SetSize(int(page.GetWidth() * 0.8), int(page.GetHeight() * 0.8), 0xFFFFFF);
  for (auto _ : state) {
    // Background: clear and the inert objects; foreground: the rest.
    QPainter& painter = canvas.Lock();
    painter.fillRect(0, 0, canvas.Width(), canvas.Height(), Qt::white);
    for (int pass = 0; pass < 2; ++pass)
      for (unsigned i = 0; i < page.ObjectCount(); ++i)
        if ((page.Object(i)->GetMode() == 0) == (pass == 0)) page.Object(i)->Paint(&canvas);
    canvas.Unlock();
  }
  state.counters["objects"] = page.ObjectCount();
}
BENCHMARK(BM_FullRedraw1024)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Widgets of the page (amplifiers, pin selectors) make real controls.
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete &PaintBox();
  std::remove(PageFile().c_str());
  std::remove(HugeTextPageFile().c_str());
  return 0;
}
