// The gain stage of a diagram: a triangle bound to one register field. For
// now the triangle with its register window, its settings and its hint;
// the gain laws, edit box, check boxes and slider window are not built yet.
#pragma once

#include <QWidget>
#include <vector>

#include "diagram/bound_shape.h"

class TAmplifier : public TBoundShape<TGUITriangle> {
 public:
  TAmplifier(QWidget* owner, float initialGain, float min, float max, float step, int device, int page, int reg,
             uint8_t mask, uint8_t shift, int gainLaw, const float* gainTable, unsigned tableCount, float textX,
             float textY, const float* triangle, bool showMute, bool showPower, int width = 1, TColor colour = 0)
      : TBoundShape(device, page, reg, 1, nullptr, triangle, width, colour),
        gain(initialGain),
        min(min),
        max(max),
        step(step),
        textLocation{textX, textY},
        mask(mask),
        shift(shift),
        gainLaw(gainLaw),
        owner(owner),
        gainTable(gainTable, gainTable + tableCount),
        showMute(showMute),
        showPower(showPower) {
    SetHintText("Amplifier: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
                ", Register: " + std::to_string(reg));
  }
  float GetMin() const { return min; }
  float GetMax() const { return max; }
  float GetStep() const { return step; }
  uint8_t GetMask() const { return mask; }
  uint8_t GetShift() const { return shift; }
  int GetGainLaw() const { return gainLaw; }
  const std::vector<float>& GetGainTable() const { return gainTable; }
  TPointF GetTextLocation() const { return textLocation; }
  bool GetShowMute() const { return showMute; }
  bool GetShowPower() const { return showPower; }

 protected:
  float gain;
  float min, max, step;
  TPointF textLocation;
  uint8_t mask, shift;
  int gainLaw;
  QWidget* owner;
  std::vector<float> gainTable;
  bool showMute, showPower;
};
