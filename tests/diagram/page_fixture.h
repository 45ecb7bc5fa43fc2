// A diagram page loaded from text, with a context whose callbacks and
// progress are recorded.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "diagram/block_diagram.h"
#include "tests/support/test_support.h"

namespace diagramtest {

struct RecordingProgress : TLoadProgress {
  std::vector<std::string> texts;
  std::vector<int> positions;
  int repaints = 0;
  void SetText(const std::string& text) override { texts.push_back(text); }
  void SetPosition(int position) override { positions.push_back(position); }
  void Repaint() override { ++repaints; }
};

inline void FakeWrite(void*, int, int, int, int) {}
inline void FakePoll(void*, int, int, int, int, int) {}
inline void FakeBlock(void*, int, int, uint8_t*, int, bool, bool) {}
inline int FakeGPIO(void*, int, bool) { return 0; }
inline int FakeTransfer(void*, int, ScriptPlace&, int, uint8_t*, int, bool, bool) { return 1; }
inline void FakeEvent(void*, TGUIObject*, int) {}

class PageFixture {
 public:
  PageFixture() {
    context.window = &windowTag;
    context.backgroundColour = 0x00F0F0F0;
    context.objectEvent = FakeEvent;
    context.objectWrite = FakeWrite;
    context.objectRefreshRequest = FakePoll;
    context.blockTransfer = FakeBlock;
    context.scriptGPIO = FakeGPIO;
    context.scriptTransfer = FakeTransfer;
    context.progress = &progress;
    context.addDevice = [this](unsigned address, unsigned books, unsigned pages) {
      devices.emplace_back(address, books, pages);
    };
  }

  // A file with `body` inside an svg root with the given root attributes.
  std::string Write(const std::string& body, const std::string& rootAttributes = "width=\"400\" height=\"300\"",
                    const std::string& name = "page.svg") {
    const std::string path = dir.File(name);
    testsupport::WriteFile(path, "<?xml version=\"1.0\"?>\n<svg " + rootAttributes + ">\n" + body + "\n</svg>\n");
    return path;
  }
  std::unique_ptr<TBlockDiagram> Load(const std::string& body,
                                      const std::string& rootAttributes = "width=\"400\" height=\"300\"") {
    return std::make_unique<TBlockDiagram>(Write(body, rootAttributes), context);
  }

  testsupport::TempDir dir;
  int windowTag = 0;
  TDiagramContext context;
  RecordingProgress progress;
  std::vector<std::tuple<unsigned, unsigned, unsigned>> devices;
};

}  // namespace diagramtest
