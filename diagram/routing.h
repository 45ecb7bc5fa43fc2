// Routing widgets: the crossbar `TDIRSelect` (sources on its left edge,
// destinations on its right, joined by two clicks, a 4-bit source number
// per destination register), the mixer `TMixer` that joins input nets into
// its last net, and the resistor select `TQMX7460RSEL` with its pop-up list.
#pragma once

#include <QListWidget>
#include <QPointer>
#include <QWidget>
#include <algorithm>

#include "diagram/bound_shape.h"

class TDIRSelect : public TBoundShape<TGUIRectangle> {
 public:
  static constexpr unsigned kMaxSources = 32;
  static constexpr unsigned kMaxDestinations = 16;
  // A destination whose register names a source the element does not have.
  static constexpr unsigned kUnconnected = ~0u;
  // The one register that packs two destinations into one byte.
  static constexpr int kPackedRegister = 107;
  // The routing device that takes its value in the register byte.
  static constexpr int kRouteDevice = 0x70;

  TDIRSelect(void* window, unsigned mask, unsigned shift, int device, int page, int reg, const float* rect,
             const float* sourceYs, unsigned sources, const float* destinationYs, unsigned destinations, int width = 1,
             TColor colour = 0);

  bool Click(int x, int y) override;
  void MouseMove(int x, int y) override;
  void SetOnColour(TColor colour) override;
  void Propagate(bool) override {}
  bool HasNet(int net) override;
  bool GetSavedState(int net) override { return DrivesNet(net); }
  void Draw(TCanvas* canvas) override;
  void Refresh() override;
  void Recompute();
  bool DrivesNet(int net);

  unsigned GetSourceCount() const { return sourceCount; }
  unsigned GetDestinationCount() const { return destinationCount; }
  float GetSourceY(unsigned i) const { return i < sourceCount ? sourceY[i] : 0; }
  float GetDestinationY(unsigned i) const { return i < destinationCount ? destinationY[i] : 0; }
  unsigned GetMask() const { return mask; }
  unsigned GetShift() const { return shift; }
  // The source of a destination (kUnconnected when the register names none).
  unsigned GetSelectedSource(unsigned i) const { return i < kMaxDestinations ? selectedSource[i] : kUnconnected; }
  TColor GetDestinationColour(unsigned i) const { return i < kMaxDestinations ? destinationColour[i] : 0; }
  int GetHoverMode() const { return hoverMode; }
  unsigned GetHoverIndex() const { return hoverIndex; }

 protected:
  // Whether register value `source` can be written for this window.
  bool Fits(unsigned source) const;
  void Commit();
  float SourceAt(unsigned i) const;
  float DestinationAt(unsigned i) const;
  // The first of `n` positions at or below the pointer (+5), else the last.
  unsigned Hovered(const float* ys, unsigned n) const;

  void* window;
  unsigned mask, shift;
  unsigned pendingSource = 0;
  unsigned pendingDestination = 0;
  unsigned sourceCount, destinationCount;
  TColor destinationColour[kMaxDestinations] = {};
  unsigned foundNet = 0;
  unsigned selectedSource[kMaxDestinations] = {};
  float sourceY[kMaxSources] = {};
  float destinationY[kMaxDestinations] = {};
  bool busy = false;
  int mouseY = 0, mouseX = 0;
  unsigned hoverIndex = 0;
  int hoverMode = 0;
};

class TMixer : public TGUIEllipse {
 public:
  TMixer(const float* box, bool mutex, int width, TColor colour) : TGUIEllipse(box, width, colour), mutex(mutex) {}
  bool IsExclusive() const { return mutex; }

  void SetState(bool on) override;
  bool GetSavedState(int net) override;

 private:
  bool mutex;
};

class TQMX7460RSEL : public TBoundShape<TSVGPath> {
 public:
  TQMX7460RSEL(void* window, QWidget* owner, int device, int page, int reg, int mask, int shift,
               const std::string& pathData);
  ~TQMX7460RSEL() override;

  void Place(float scale, int dx, int dy) override;
  bool Click(int x, int y) override;
  int Request(int code, void* data) override;
  void Draw(TCanvas* canvas) override;
  void Refresh() override { RegisterChanged(); }
  void RegisterChanged();
  void ListDblClick();

  int GetMask() const { return mask; }
  int GetShift() const { return shift; }
  QListWidget* GetList() const { return list.data(); }

 private:
  void* window;
  QWidget* owner;
  int mask, shift;
  QPointer<QListWidget> list;
  bool repositionList = false;
};
