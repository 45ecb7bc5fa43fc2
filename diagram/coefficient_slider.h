// The coefficient slider: for now its rectangle with its register window
// (page 1, 64 registers, unbound until the window core binds it) and its
// file names; the track bar, scripts and coefficient records are not built yet.
#pragma once

#include <QWidget>

#include "diagram/bound_shape.h"

class TQMX7350Slider : public TBoundShape<TGUIRectangle> {
 public:
  TQMX7350Slider(QWidget* owner, void* window, TI2CBlockCallback transfer, const std::string& coeffFile,
                 const std::string& muteScript, const std::string& unmuteScript, const std::string& powerUpScript,
                 const std::string& powerDownScript, const float* rect)
      : TBoundShape(0x30, 1, 0, 64, nullptr, rect, 1, 0),
        owner(owner),
        window(window),
        transfer(transfer),
        coeffFile(coeffFile),
        scripts{muteScript, unmuteScript, powerUpScript, powerDownScript} {
    SetData(nullptr);  // nothing is written until the window core binds it
  }
  const std::string& GetCoeffFile() const { return coeffFile; }
  // 0 mute, 1 unmute, 2 power-up, 3 power-down.
  const std::string& GetScript(int i) const { return scripts[i & 3]; }

 private:
  QWidget* owner;
  void* window;
  TI2CBlockCallback transfer;
  std::string coeffFile;
  std::string scripts[4];
};
