// A diagram shape with a register window: the form every register-bound
// widget takes (the shape first, the window second).
#pragma once

#include <cstdio>
#include <string>

#include "common/canvas.h"
#include "common/i2c_object.h"
#include "common/shapes.h"

template <class Shape>
class TBoundShape : public Shape, public TI2CObject {
 public:
  template <class... ShapeArgs>
  TBoundShape(int device, int page, int firstRegister, int count, uint8_t* data, ShapeArgs&&... shapeArgs)
      : Shape(static_cast<ShapeArgs&&>(shapeArgs)...), TI2CObject(device, page, firstRegister, count, data) {}

  // Redraws from the image on the canvas of the last paint.
  void Refresh() override {
    if (this->GetCanvas()) this->Paint(this->GetCanvas());
  }
};

// "0x%2X" as the hints write addresses.
inline std::string HexAddress(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%2X", unsigned(value));
  return text;
}
