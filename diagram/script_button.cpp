#include "diagram/script_button.h"

#include <QPainter>

#include "common/canvas.h"

#include "platform/library.h"
#include "platform/log.h"
#include "registers/i2c_command.h"

TI2CCommand* MakeScriptWindow(const std::string& file, const std::string& caption, void* window,
                              TScriptTransferCallback transfer, TScriptGPIOCallback gpio) {
  auto* command = new TI2CCommand(nullptr);
  command->SetCallbacks(window, transfer, gpio);
  if (!command->LoadScript(platform::MapPath(file))) {
    // Nothing to run: the widget still works.
    platform::LogLine("Script button: cannot read the script " + file);
    command->SetCommandLines({});
  }
  command->setWindowTitle(QString::fromStdString(caption));
  return command;
}

namespace {

// A command window that is never shown, holding one script file.
TI2CCommand* ScriptWindow(const std::string& name, void* window, TScriptTransferCallback transfer,
                          TScriptGPIOCallback gpio) {
  return MakeScriptWindow(std::string(TScriptButton::kScriptDirectory) + name, name, window, transfer, gpio);
}

}  // namespace

TScriptButton::TScriptButton(QWidget* ownerWindow, const float* rect, void* diagram, TScriptTransferCallback transferCallback,
                             TScriptGPIOCallback gpioCallback, const std::string& on, const std::string& off,
                             const std::string& buttonType)
    : TGUIEllipse(rect, 1, 0),
      owner(ownerWindow),
      window(diagram),
      transfer(transferCallback),
      gpio(gpioCallback),
      onScriptFile(on),
      offScriptFile(off),
      type(buttonType) {
  onScript = ScriptWindow(on, diagram, transferCallback, gpioCallback);
  offScript = ScriptWindow(off, diagram, transferCallback, gpioCallback);
}

TScriptButton::~TScriptButton() {
  delete onScript.data();
  delete offScript.data();
}

TI2CCommand* TScriptButton::GetOnWindow() const { return onScript.data(); }
TI2CCommand* TScriptButton::GetOffWindow() const { return offScript.data(); }

void TScriptButton::SetState(bool value, bool notify) {
  buttonOn = value;
  if (notify) SendEvent(kEventStateChanged);
  TI2CCommand* script = buttonOn ? onScript.data() : offScript.data();
  if (script && transfer) script->RunSync();
}

bool TScriptButton::Click(int x, int y) {
  if (mode == 0 || !HitTest(x, y)) return false;
  if (type == "radiobutton") {
    if (buttonOn) return false;
    for (unsigned i = 0; i < targetCount; ++i) {
      auto* partner = dynamic_cast<TScriptButton*>(targets[i]);
      if (partner && partner->buttonOn) partner->SetState(false, false);
    }
  }
  SetState(!buttonOn, true);
  return true;
}

void TScriptButton::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  painter.setRenderHint(QPainter::Antialiasing, true);
  const TPointF a = placedPoints[0], b = placedPoints[1];
  const QRectF box(QPointF(qreal(a.x), qreal(a.y)), QPointF(qreal(b.x), qreal(b.y)));
  const TColor fill = backgroundColour;
  painter.setBrush(buttonOn ? QColor(64, 255, 64)
                            : QColor(int(fill & 0xFF), int((fill >> 8) & 0xFF), int((fill >> 16) & 0xFF)));
  painter.setPen(QPen(PenColour(currentColour), qreal(currentWidth)));
  painter.drawEllipse(box.normalized());
  painter.setBrush(Qt::NoBrush);
}
