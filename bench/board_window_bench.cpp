// The board window against an emulated board with no latency: a click on
// a switch until its write is handed to the link, the whole click, and
// UpdateObjects passes over a page with 256 register windows (nothing
// changed, one switch changed), and a refresh report that changes 128. Each should stay well under one 60 Hz
// frame (16 ms); a pass that changes little well under 0.5 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMdiArea>
#include <chrono>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "common/gui_object.h"
#include "diagram/block_diagram.h"
#include "host/diagram_form.h"
#include "link/usbi2c.h"
#include "platform/log.h"
#include "quillbus/quillbus.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// 256 switches in rows of 16, one register window each, on registers 1..127
// of page 0 and page 1 of device 0x30.
std::string PageText() {
  std::string text = "<?xml version=\"1.0\"?>\n<svg width=\"1000\" height=\"700\">\n";
  text += "<metadata><I2CAddress>0x30</I2CAddress><pages>2</pages></metadata>\n";
  char line[256];
  for (int i = 0; i < 256; ++i) {
    std::snprintf(line, sizeof line,
                  "<rect x=\"%d\" y=\"%d\" width=\"30\" height=\"20\" function=\"switch\" Bit=\"%d\" "
                  "I2CPage=\"%d\" I2CRegister=\"%d\"/>\n",
                  20 + (i % 16) * 60, 20 + (i / 16) * 40, i % 8, i / 128, 1 + i % 127);
    text += line;
  }
  return text + "</svg>\n";
}

struct Window {
  testsupport::TempDir dir;
  pugi::xml_document list;
  QMdiArea area;
  TDiagramForm* form = nullptr;

  Window() {
    platform::SetLogSink([](const std::string&) {});
    QuillbusReset();
    QuillbusSetLatency(0);
    QuillbusSetBoardsDir(dir.path().c_str());
    testsupport::WriteFile(dir.File("bench.board"), "name = BENCHEVM\ndevices = 0x30\n");
    testsupport::WriteFile(dir.File("page.svg"), PageText());
    const std::string xml = "<L><BENCHEVM Diagram-1=\"" + dir.File("page.svg") + "\"/></L>";
    list.load_string(xml.c_str());
    OrvaneUsbHidRefresh(kQuillbusVendorId, kQuillbusProductId);
    EVMOpenRequest request;
    request.node = list.document_element().first_child();
    request.deviceIndex = 0;
    request.deviceHandle = OrvaneUsbHidGetDevHandle(0);
    area.resize(1200, 900);
    area.show();
    form = new TDiagramForm(&area, &request);
    QCoreApplication::processEvents();
  }
  ~Window() {
    form->GetLink()->SetDeviceHandle(nullptr);
    delete form;
    QuillbusReset();
    QuillbusSetBoardsDir(nullptr);
    platform::SetLogSink({});
  }
};

// Stamps the moment a write reaches the link.
Clock::time_point handedAt;
void StampWrite(void*, const uint8_t*, unsigned, unsigned, unsigned, unsigned, unsigned) { handedAt = Clock::now(); }

// The centre of the first switch's placed rectangle.
void PointAtFirstSwitch(TDiagramForm* form) {
  TGUIObject* lever = form->CurrentPage()->Object(0);
  const TPointF a = lever->GetPlacedPoint(0), b = lever->GetPlacedPoint(1);
  form->BlockDiagramPaintBoxMouseMove(int((a.x + b.x) / 2), int((a.y + b.y) / 2));
}

// The span from the click to the write is a small part of the click, so
// the run has a fixed length (sized from the span alone it would take the
// better part of an hour); the whole click is reported beside it.
void BM_ClickUntilTheWriteIsHandedToTheLink(benchmark::State& state) {
  Window window;
  PointAtFirstSwitch(window.form);
  window.form->GetLink()->SetWriteCallback(nullptr, StampWrite);
  double whole = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    window.form->BlockDiagramPaintBoxClick();
    const Clock::time_point end = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(handedAt - start).count());
    whole += std::chrono::duration<double, std::micro>(end - start).count();
  }
  state.counters["wholeClick_us"] = whole / double(state.iterations());
  state.counters["registerWindows"] = window.form->CurrentPage()->RegisterWindowCount();
}
BENCHMARK(BM_ClickUntilTheWriteIsHandedToTheLink)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_WholeClick(benchmark::State& state) {
  Window window;
  PointAtFirstSwitch(window.form);
  for (auto _ : state) window.form->BlockDiagramPaintBoxClick();
}
BENCHMARK(BM_WholeClick)->Unit(benchmark::kMicrosecond);

// Nothing changed: every switch refreshes, nothing is drawn.
void BM_UpdateObjectsOver256Windows(benchmark::State& state) {
  Window window;
  for (auto _ : state) window.form->UpdateObjects(0, 0, 0, true);
  state.counters["registerWindows"] = window.form->CurrentPage()->RegisterWindowCount();
}
BENCHMARK(BM_UpdateObjectsOver256Windows)->Unit(benchmark::kMicrosecond);

// One switch's bit turns over each pass: that switch alone is drawn again.
void BM_UpdateObjectsOver256WindowsOneChanged(benchmark::State& state) {
  Window window;
  uint8_t* byte = window.form->GetLink()->GetRegisterImage(0x30, 0, 0, 1);
  for (auto _ : state) {
    *byte ^= 0x01;
    window.form->UpdateObjects(0, 0, 0, true);
  }
  state.counters["registerWindows"] = window.form->CurrentPage()->RegisterWindowCount();
}
BENCHMARK(BM_UpdateObjectsOver256WindowsOneChanged)->Unit(benchmark::kMicrosecond);

// A refresh report of page 0's 127 registers, every bit turned over: the
// 128 switches on them change and are drawn once, in one pass.
void BM_RefreshReportChangingHalfTheSwitches(benchmark::State& state) {
  Window window;
  uint8_t* bytes = window.form->GetLink()->GetRegisterImage(0x30, 0, 0, 1);
  for (auto _ : state) {
    for (int i = 0; i < 127; ++i) bytes[i] ^= 0xFF;
    window.form->NotifyRegisterObjects(0x30, 0, 0, 1, 127);
  }
}
BENCHMARK(BM_RefreshReportChangingHalfTheSwitches)->Unit(benchmark::kMicrosecond);

}  // namespace
