// Routing widgets: the crossbar, the mixer and the resistor select. For now
// each is its shape with its register window, settings and hint; their
// clicks, drawing and activity flow are not built yet.
#pragma once

#include <QWidget>
#include <algorithm>

#include "diagram/bound_shape.h"

class TDIRSelect : public TBoundShape<TGUIRectangle> {
 public:
  static constexpr unsigned kMaxSources = 32;
  static constexpr unsigned kMaxDestinations = 16;

  TDIRSelect(void* window, unsigned mask, unsigned shift, int device, int page, int reg, const float* rect,
             const float* sourceYs, unsigned sources, const float* destinationYs, unsigned destinations, int width = 1,
             TColor colour = 0)
      : TBoundShape(device, page, device == 0x70 ? 0 : reg, WindowCount(device, destinations), nullptr, rect, width,
                    colour),
        window(window),
        mask(mask),
        shift(shift),
        sourceCount(std::min(sources, kMaxSources)),
        destinationCount(std::min(destinations, kMaxDestinations)) {
    std::copy(sourceYs, sourceYs + sourceCount, sourceY);
    std::copy(destinationYs, destinationYs + destinationCount, destinationY);
    SetHintText("MUX: I2C Address: " + HexAddress(device) + ", Register: " + std::to_string(reg));
  }
  unsigned GetSourceCount() const { return sourceCount; }
  unsigned GetDestinationCount() const { return destinationCount; }
  float GetSourceY(unsigned i) const { return i < sourceCount ? sourceY[i] : 0; }
  float GetDestinationY(unsigned i) const { return i < destinationCount ? destinationY[i] : 0; }
  unsigned GetMask() const { return mask; }
  unsigned GetShift() const { return shift; }

 private:
  // A window of no registers would point nowhere: at least one.
  static int WindowCount(int device, unsigned destinations) {
    if (device == 0x70) return 8;
    if (device == 0x6B) return 1;
    return int(std::clamp(destinations, 1u, kMaxDestinations));
  }

  void* window;
  unsigned mask, shift;
  unsigned sourceCount, destinationCount;
  float sourceY[kMaxSources] = {};
  float destinationY[kMaxDestinations] = {};
};

class TMixer : public TGUIEllipse {
 public:
  TMixer(const float* box, bool mutex, int width, TColor colour) : TGUIEllipse(box, width, colour), mutex(mutex) {}
  bool IsExclusive() const { return mutex; }

 private:
  bool mutex;
};

class TQMX7460RSEL : public TBoundShape<TSVGPath> {
 public:
  TQMX7460RSEL(void* window, QWidget* owner, int device, int page, int reg, int mask, int shift,
               const std::string& pathData)
      : TBoundShape(device, page, reg, 1, nullptr, pathData), window(window), owner(owner), mask(mask), shift(shift) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(mask) & 0xFFu);
    SetHintText("Impedance Control: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
                ", Register: " + std::to_string(reg) + ", Mask: " + text);
  }
  int GetMask() const { return mask; }
  int GetShift() const { return shift; }

 private:
  void* window;
  QWidget* owner;
  int mask, shift;
};
