// The real controls of a page's widgets, each with the widget it belongs to
// and where it belongs: on the widget's rectangle (a pin selector's box, a
// check box, the coefficient slider's track bar) or beside it (an
// amplifier's edit and boxes, the slider's rows, the readouts' boxes).
#pragma once

#include <QRect>
#include <QWidget>
#include <string>
#include <vector>

#include "diagram/amplifier.h"
#include "diagram/bit_widgets.h"
#include "diagram/block_diagram.h"
#include "diagram/coefficient_slider.h"
#include "diagram/data_readouts.h"
#include "diagram/pin_select.h"
#include "diagram/routing.h"
#include "diagram/touch_screen.h"

namespace hosttest {

struct PageControl {
  QWidget* control;
  TGUIObject* widget;
  bool onRectangle;
  int margin;        // pixels it may reach past the rectangle's right and bottom
  std::string name;  // for messages
};

inline void CollectControls(TGUIObject* object, std::vector<PageControl>& out) {
  auto add = [&](QWidget* control, bool onRectangle, const std::string& what, int margin = 0) {
    if (control) out.push_back({control, object, onRectangle, margin, object->GetFunctionName() + " " + what});
  };
  if (auto* amplifier = dynamic_cast<TAmplifier*>(object)) {
    add(amplifier->GetEdit(), false, "gain edit");
    add(amplifier->GetMuteBox(), false, "Mute box");
    add(amplifier->GetPowerBox(), false, "Power box");
  } else if (auto* box = dynamic_cast<TPlCheckBox*>(object)) {
    add(box->GetControl(), true, "check box \"" + box->GetCaption() + "\"");
  } else if (auto* pin = dynamic_cast<TPinSelect*>(object)) {
    add(pin->GetCombo(), true, "box " + std::to_string(pin->GetID()));
  } else if (auto* slider = dynamic_cast<TQMX7350Slider*>(object)) {
    // The bar reaches 4 pixels (fewer on a smaller diagram) past the
    // rectangle's right and bottom.
    add(slider->TrackBar(), true, "track bar", 4);
    add(slider->StepText(), false, "step text");
    add(slider->MuteBox(), false, "Mute box");
    add(slider->MuteLabel(), false, "Mute caption");
    add(slider->PowerBox(), false, "Power box");
    add(slider->PowerLabel(), false, "Power caption");
    for (int i = 0; i < 3; ++i) add(slider->ModeButton(i), false, "mode button");
  } else if (auto* readout = dynamic_cast<TDataReadout*>(object)) {
    add(readout->ActiveBox(), false, "Active box");
    if (auto* scope = dynamic_cast<TDSVoiceRecordData*>(object)) add(scope->RecordBox(), false, "Record box");
  } else if (auto* touch = dynamic_cast<TTouchScreen*>(object)) {
    add(touch->ActiveBox(), false, "Active box");
  } else if (auto* resistor = dynamic_cast<TQMX7460RSEL*>(object)) {
    // A chooser that a click opens over the resistor, like a box's list.
    add(resistor->GetList(), false, "resistor list");
  } else if (auto* group = dynamic_cast<TGUIGroup*>(object)) {
    for (unsigned i = 0; i < group->GetChildCount(); ++i) CollectControls(group->GetChild(i), out);
  }
}

inline std::vector<PageControl> PageControls(TBlockDiagram* page) {
  std::vector<PageControl> out;
  for (unsigned i = 0; i < page->ObjectCount(); ++i)
    if (page->Object(i)) CollectControls(page->Object(i), out);
  return out;
}

// Where a control may lie on the paint box: its widget's placed rectangle
// with the control's margin to the right and below.
inline QRect AllowedRectangle(const PageControl& c) {
  const TPointF a = c.widget->GetPlacedPoint(0), b = c.widget->GetPlacedPoint(1);
  return QRect(QPoint(int(a.x), int(a.y)), QPoint(int(b.x), int(b.y))).normalized().adjusted(0, 0, c.margin, c.margin);
}

}  // namespace hosttest
