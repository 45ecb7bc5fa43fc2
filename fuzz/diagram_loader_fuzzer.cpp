// libFuzzer harness of the diagram page loader: each input is a diagram
// file, loaded as a page, placed, zoomed, drawn once, hovered and clicked
// at a few points, and destroyed, as a board window would use it.
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/canvas.h"
#include "common/gui_object.h"
#include "diagram/block_diagram.h"
#include "diagram/context.h"

namespace {

void NoWrite(void*, int, int, int, int) {}
void NoPoll(void*, int, int, int, int, int) {}
void NoBlock(void*, int, int, uint8_t*, int, bool, bool) {}
int NoGPIO(void*, int, bool) { return 0; }
void NoEvent(void*, TGUIObject*, int) {}

struct NullProgress : TLoadProgress {
  void SetText(const std::string&) override {}
  void SetPosition(int) override {}
  void Repaint() override {}
};

int windowTag = 0;
NullProgress progress;
std::string inputPath;

}  // namespace

// fontconfig keeps its caches until exit: not a fault of the loader.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Widgets (check boxes) need an application; no display is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(*argc, *argv);
  inputPath = QDir::tempPath().toStdString() + "/diagram_loader_fuzz." + std::to_string(::getpid()) + ".svg";
  std::atexit([] { std::remove(inputPath.c_str()); });  // one file per process, gone with it
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(inputPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  TDiagramContext context;
  context.window = &windowTag;
  context.backgroundColour = 0x00F0F0F0;
  context.objectEvent = NoEvent;
  context.objectWrite = NoWrite;
  context.objectRefreshRequest = NoPoll;
  context.blockTransfer = NoBlock;
  context.scriptGPIO = NoGPIO;
  context.addDevice = [](unsigned, unsigned, unsigned) {};
  context.progress = &progress;

  std::unique_ptr<TBlockDiagram> page;
  try {
    page = std::make_unique<TBlockDiagram>(inputPath, context);
  } catch (const TDiagramLoadError&) {
    return 0;  // bad input is refused, as it should be
  }

  // The board window's zoom: the page's factor, then a second placement.
  page->SetZoom(page->GetZoomFactor(), 0, 0);
  page->SetZoom(1.0, 5, -3);
  page->SetVisible(true);

  TCanvas canvas;
  canvas.SetSize(160, 120, 0x00F0F0F0);
  {
    TCanvasLock lock(canvas);
    for (unsigned i = 0; i < page->ObjectCount(); ++i) page->Object(i)->Paint(&canvas);
  }

  const int points[][2] = {{0, 0}, {10, 10}, {40, 30}, {80, 60}, {150, 110}, {-5, 500}};
  for (const auto& p : points) {
    for (unsigned i = 0; i < page->ObjectCount(); ++i) {
      TGUIObject* object = page->Object(i);
      object->HitTest(p[0], p[1]);
      object->MouseMove(p[0], p[1]);
      object->Click(p[0], p[1]);
    }
    // A few fade steps, as the timer would run them.
    for (int k = 0; k < 3; ++k) page->GetProximityTimer()->Tick();
  }
  // The window's notice that a window's registers changed.
  for (unsigned i = 0; i < page->RegisterWindowCount(); ++i) {
    TI2CObject* window = page->RegisterWindow(i);
    window->OnRegisterChanged(window->GetDevice(), window->GetPage(), unsigned(window->GetFirstRegister()));
  }
  page.reset();
  return 0;
}
