// Bit and field widgets: lever switch, amplifier switch, direction arrow,
// N-position toggle, three-way impedance select, check box. Each is its
// rectangle with its register window (one register) and its hint; their
// clicks, drawing and net behaviour are not built yet.
#pragma once

#include <QWidget>

#include "diagram/bound_shape.h"

class TSwitch : public TBoundShape<TGUIRectangle> {
 public:
  TSwitch(void* diagram, int bit, int device, int page, int reg, const float* rect, int width = 1, TColor colour = 0)
      : TBoundShape(device, page, reg, 1, nullptr, rect, width, colour), diagram(diagram), bit(bit) {
    SetHintText(page >= 128 ? std::string("Switch: custom control")
                            : "Switch: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
                                  ", Register: " + std::to_string(reg) + ", Bit: " + std::to_string(bit));
  }
  int GetBit() const { return bit; }
  void* GetDiagram() const { return diagram; }

 protected:
  void* diagram;
  int bit;
  uint8_t switchState = 0;
};

class TAmpSwitch : public TSwitch {
 public:
  using TSwitch::TSwitch;
};

class TIOArrow : public TSwitch {
 public:
  TIOArrow(void* diagram, int bit, int page, int reg, const float* rect, int width = 1, TColor colour = 0)
      : TSwitch(diagram, bit, 0x30, page, reg, rect, width, colour) {}

 protected:
  int pathColour = 0;
};

class TToggle : public TBoundShape<TGUIRectangle> {
 public:
  TToggle(void* diagram, int mask, int shift, int device, int page, int reg, const float* rect, int positions,
          int width = 1, TColor colour = 0)
      : TBoundShape(device, page, reg, 1, nullptr, rect, width, colour),
        diagram(diagram),
        mask(mask),
        shift(shift),
        positions(positions) {
    SetHintText("Switch: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
                ", Register: " + std::to_string(reg) + ", LSB: " + std::to_string(shift));
  }
  int GetMask() const { return mask; }
  int GetShift() const { return shift; }
  int GetPositions() const { return positions; }

 protected:
  void* diagram;
  int mask;
  int shift;
  int position = 0;
  int positions;
};

class TImpedanceSelect : public TBoundShape<TGUIRectangle> {
 public:
  TImpedanceSelect(void* diagram, int mask, int shift, int page, int reg, const float* rect, int width = 1,
                   TColor colour = 0)
      : TBoundShape(0x30, page, reg, 1, nullptr, rect, width, colour), diagram(diagram), mask(mask), shift(shift) {
    SetHintText("Impedance Select: Page: " + std::to_string(page) + ", Register: " + std::to_string(reg));
  }
  int GetMask() const { return mask; }
  int GetShift() const { return shift; }

 protected:
  void* diagram;
  int mask;
  int shift;
  int position = 0;
};

class TPlCheckBox : public TBoundShape<TGUIRectangle> {
 public:
  TPlCheckBox(QWidget* owner, int device, int page, int reg, const std::string& caption, int bit, const float* rect)
      : TBoundShape(device, page, reg, 1, nullptr, rect, 1, 0), caption(caption), bit(uint8_t(bit)), owner(owner) {}
  const std::string& GetCaption() const { return caption; }
  int GetBit() const { return bit; }

 protected:
  std::string caption;
  uint8_t bit;
  QWidget* owner;
};
