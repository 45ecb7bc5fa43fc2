// An elliptical button that runs one command script when switched on and
// another when switched off. For now the ellipse with its script names and
// state; running the scripts is not built yet.
#pragma once

#include <QWidget>

#include "common/shapes.h"
#include "diagram/context.h"

class TScriptButton : public TGUIEllipse {
 public:
  // `rect`: the rectangle geometry of the element; the ellipse fills its box.
  TScriptButton(QWidget* owner, const float* rect, void* window, TI2CBlockCallback transfer, TScriptGPIOCallback gpio,
                const std::string& onScript, const std::string& offScript, const std::string& type)
      : TGUIEllipse(rect, 1, 0),
        owner(owner),
        window(window),
        transfer(transfer),
        gpio(gpio),
        onScriptFile(onScript),
        offScriptFile(offScript),
        type(type) {}
  void SetState(bool value, bool notify) {
    buttonOn = value;
    (void)notify;
  }
  using TGUIEllipse::SetState;
  bool GetButtonState() const { return buttonOn; }
  const std::string& GetOnScript() const { return onScriptFile; }
  const std::string& GetOffScript() const { return offScriptFile; }
  const std::string& GetType() const { return type; }
  TI2CBlockCallback GetTransfer() const { return transfer; }
  TScriptGPIOCallback GetGPIO() const { return gpio; }

 protected:
  QWidget* owner;
  void* window;
  TI2CBlockCallback transfer;
  TScriptGPIOCallback gpio;
  std::string onScriptFile, offScriptFile;
  bool buttonOn = false;
  std::string type;
};
