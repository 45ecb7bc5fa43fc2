#include "diagram/script_button.h"

#include <QPainter>

#include "common/canvas.h"

#include "platform/library.h"
#include "platform/log.h"
#include "registers/i2c_command.h"

TScriptWindow::~TScriptWindow() { delete command.data(); }

void TScriptWindow::Set(const std::string& file, const std::string& text, void* owner,
                        TScriptTransferCallback transferCallback, TScriptGPIOCallback gpioCallback) {
  delete command.data();
  set = true;
  path = platform::MapPath(file);
  caption = text;
  window = owner;
  transfer = transferCallback;
  gpio = gpioCallback;
  lines.clear();
  std::string error;
  if (!CommandScript::ReadScriptFile(path, lines, &error)) {
    platform::LogLine(error);
    // Nothing to run: the widget still works.
    platform::LogLine("Script button: cannot read the script " + file);
    lines.clear();
  }
}

TI2CCommand* TScriptWindow::Window() {
  if (command || !set) return command.data();
  command = new TI2CCommand(nullptr);
  command->SetCallbacks(window, transfer, gpio);
  // As the window's own LoadScript leaves it.
  command->Script().SetFileName(path);
  command->Script().SetLines(lines);
  command->SetCommandLines(lines);
  command->setWindowTitle(QString::fromStdString(caption));
  return command.data();
}

bool TScriptWindow::Built() const { return !command.isNull(); }

void TScriptWindow::RunSync() {
  if (TI2CCommand* script = Window()) script->RunSync();
}

void TScriptWindow::Show() {
  if (TI2CCommand* script = Window()) script->show();
}

namespace {

// A command window that is never shown, holding one script file.
void SetScript(TScriptWindow& script, const std::string& name, void* window, TScriptTransferCallback transfer,
               TScriptGPIOCallback gpio) {
  script.Set(std::string(TScriptButton::kScriptDirectory) + name, name, window, transfer, gpio);
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
  SetScript(onScript, on, diagram, transferCallback, gpioCallback);
  SetScript(offScript, off, diagram, transferCallback, gpioCallback);
}

TScriptButton::~TScriptButton() = default;

void TScriptButton::SetState(bool value, bool notify) {
  buttonOn = value;
  if (notify) SendEvent(kEventStateChanged);
  if (transfer) (buttonOn ? onScript : offScript).RunSync();
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
