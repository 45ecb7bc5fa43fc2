// The streaming widgets (voice record data, IN1/IN2 data, SAR data, touch
// screen) share this: their rectangle, their register window, a
// refresh-request callback of their own, the off-screen image placed inside
// the rectangle, and the rule that a stream ends when nobody can see it.
#pragma once

#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "diagram/bound_shape.h"

class TStreamingShape : public TBoundShape<TGUIRectangle> {
 public:
  TStreamingShape(int device, int page, int reg, int count, const float* rect)
      : TBoundShape(device, page, reg, count, nullptr, rect, 1, 0) {}
  void SetRefreshRequest(TI2CPollCallback callback) { refreshRequest = callback; }
  TI2CPollCallback GetRefreshRequest() const { return refreshRequest; }

  // Ends a running stream (or a highlight on its way) as the pointer's
  // leaving would, at once.
  void EndStream() { EndHover(); }
  // While held (its page is not the one shown, or its window is hidden or
  // minimised) no stream starts, and holding ends the one that runs.
  void HoldStream(bool hold) {
    held = hold;
    if (hold) EndStream();
  }
  bool StreamHeld() const { return held; }
  // Every stream starts from the highlight: a held widget takes none, nor
  // the hover that would lead to one (its hint would stay counted).
  void StartFade(int state) override {
    if (held && state == kFadeEntered) return;
    TBoundShape::StartFade(state);
  }
  void MouseMove(int x, int y) override {
    if (!held) TBoundShape::MouseMove(x, y);
  }

 protected:
  // Asks for a refresh of one block at `rate` Hz; the block is remembered so
  // that a stop names this widget's own block, and the window stops nothing
  // that another widget started since.
  void RequestRefresh(int page, int reg, int count, int rate) {
    if (!refreshRequest) return;
    requested = {page, reg, count};
    refreshRequest(user, device, page, reg, count, rate);
  }
  void StopOwnRefresh() {
    if (refreshRequest && requested.count > 0) refreshRequest(user, device, requested.page, requested.reg,
                                                              requested.count, 0);
    requested = {};
  }
  bool OwnRefreshRequested() const { return requested.count > 0; }

  // The image lies inside the placed rectangle: its corners, not the
  // bounding box (which holds the corner-radius point too).
  int ImageLeft() const { return int(placedPoints[0].x) + 2; }
  int ImageTop() const { return int(placedPoints[0].y) + 2; }
  // The rectangle less 2 pixels each side; one pixel at least.
  int ImageWidth() const { return std::max(1, std::abs(int(placedPoints[1].x) - int(placedPoints[0].x)) - 4); }
  int ImageHeight() const { return std::max(1, std::abs(int(placedPoints[1].y) - int(placedPoints[0].y)) - 4); }

  // A side of the file's rectangle, less `inset` pixels, before it is
  // placed; one pixel at least.
  static int FileSide(float from, float to, int inset = 0) {
    return std::max(1, CoordinatePixels(double(to) - double(from)) - inset);
  }

  TI2CPollCallback refreshRequest = nullptr;

 private:
  struct {
    int page = 0, reg = 0, count = 0;
  } requested;
  bool held = false;
};
