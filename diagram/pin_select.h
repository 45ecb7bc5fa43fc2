// The pin function selector: for now its rectangle with its register
// window and hint; the combo box and the pin encodings are not built yet.
#pragma once

#include <QWidget>

#include "diagram/bound_shape.h"

class TPinSelect : public TBoundShape<TGUIRectangle> {
 public:
  TPinSelect(QWidget* owner, const float* rect) : TBoundShape(0, 31, 27, 1, nullptr, rect, 1, 0), owner(owner) {
    SetHintText("PinSelect");
  }

 private:
  QWidget* owner;
};
