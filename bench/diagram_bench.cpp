// Diagram pages: the load time of a page of 1024 objects, and one full
// redraw of it (background and foreground) at 100 % zoom.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
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

void BM_LoadPage1024(benchmark::State& state) {
  TDiagramContext context;
  for (auto _ : state) {
    TBlockDiagram page(PageFile(), context);
    benchmark::DoNotOptimize(page.ObjectCount());
  }
}
BENCHMARK(BM_LoadPage1024)->Unit(benchmark::kMillisecond);

void BM_FullRedraw1024(benchmark::State& state) {
  TDiagramContext context;
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
  std::remove(PageFile().c_str());
  return 0;
}
