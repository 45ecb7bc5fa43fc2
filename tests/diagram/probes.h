// Helpers of the diagram tests: objects that record what they were asked
// to draw, an event recorder and a canvas.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "common/canvas.h"
#include "common/shapes.h"

namespace diagramtest {

struct DrawRecord {
  TColor colour;
  int width;
};

// A rectangle that records the colour and width of every draw.
class ProbeRect : public TGUIRectangle {
 public:
  explicit ProbeRect(float x0 = 0, float y0 = 0, float x1 = 10, float y1 = 10)
      : TGUIRectangle(Points(x0, y0, x1, y1), 1, 0x0000AA) {
    Place(1.0f, 0, 0);
  }
  void Draw(TCanvas* canvas) override {
    draws.push_back({currentColour, currentWidth});
    TGUIRectangle::Draw(canvas);
  }
  std::vector<DrawRecord> draws;

 private:
  static const float* Points(float x0, float y0, float x1, float y1) {
    static thread_local float p[6];
    p[0] = x0, p[1] = y0, p[2] = x1, p[3] = y1, p[4] = 1, p[5] = 1;
    return p;
  }
};

// A feeding switch as a widget asks it: request 1 gives its state, request
// 2 sets it from a one-byte value.
struct SwitchProbe : ProbeRect {
  int state = 0;
  int Request(int code, void* data) override {
    if (code == 2) state = *static_cast<uint8_t*>(data);
    return code == 1 ? state : 0;
  }
};

struct Events {
  std::vector<std::pair<TGUIObject*, int>> list;
  static void Callback(void* user, TGUIObject* object, int event) {
    static_cast<Events*>(user)->list.emplace_back(object, event);
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const auto& e : list) codes.push_back(e.second);
    return codes;
  }
};

// A white canvas of 200 x 200.
struct WhiteCanvas : TCanvas {
  WhiteCanvas() { SetSize(200, 200, 0xFFFFFF); }
};

}  // namespace diagramtest
