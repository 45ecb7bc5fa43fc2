// The streaming widgets (voice record data, IN1/IN2 data, SAR data, touch
// screen) share this: their rectangle, their register window and a
// refresh-request callback of their own.
#pragma once

#include <QWidget>

#include "diagram/bound_shape.h"

class TStreamingShape : public TBoundShape<TGUIRectangle> {
 public:
  TStreamingShape(int device, int page, int reg, int count, const float* rect)
      : TBoundShape(device, page, reg, count, nullptr, rect, 1, 0) {}
  void SetRefreshRequest(TI2CPollCallback callback) { refreshRequest = callback; }
  TI2CPollCallback GetRefreshRequest() const { return refreshRequest; }

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

  TI2CPollCallback refreshRequest = nullptr;

 private:
  struct {
    int page = 0, reg = 0, count = 0;
  } requested;
};
